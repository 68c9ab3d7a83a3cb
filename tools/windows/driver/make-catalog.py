#!/usr/bin/python3
"""Writes the unsigned catalog (.cat) of a driver package; osslsigncode signs it.

A catalog is a PKCS #7 SignedData whose content is a certificate trust list
(1.3.6.1.4.1.311.10.1) of the catalog-list usage. Each file is listed twice,
by its SHA-1 hash (what a version 1 catalog is looked up by, and all that Wine
computes) and by its SHA-256 hash, each entry with its hash as the reference
tag and the attributes makecat writes: the indirect data with the digest, the
member info of a flat file, the file name and the OS versions. The catalog's
own attributes name the hardware ID and the OS. The layout follows the catalog
that makecat made in Wine's wintrust tests and the one Wine's ntoskrnl tests
build through the catalog API before they install a driver on Windows.

Usage: make-catalog.py <out.cat> <hardware ID> <file>...
"""
import datetime
import hashlib
import os
import sys
import time

from asn1crypto import algos, cms, core

CTL = '1.3.6.1.4.1.311.10.1'
CATALOG_LIST = '1.3.6.1.4.1.311.12.1.1'
CATALOG_LIST_MEMBER = '1.3.6.1.4.1.311.12.1.2'  # version 1
CAT_NAMEVALUE = '1.3.6.1.4.1.311.12.2.1'
CAT_MEMBERINFO = '1.3.6.1.4.1.311.12.2.2'
SPC_INDIRECT_DATA = '1.3.6.1.4.1.311.2.1.4'
SPC_CAB_DATA = '1.3.6.1.4.1.311.2.1.25'  # what makecat gives a flat file
FLAT_FILE_SUBJECT = '{DE351A42-8E59-11D0-8C47-00C04FC295EE}'
MEMBER_VERSION = 0x200
# Authenticated, ASCII name, ASCII data.
ATTR_FLAGS = 0x10010001
# Windows 10 and 11 are both NT 10.0; x64 only.
MEMBER_OS = '2:10.0'
CATALOG_OS = '_v100_X64'


class SpcString(core.Choice):
    _alternatives = [('unicode', core.BMPString, {'implicit': 0}),
                     ('ascii', core.IA5String, {'implicit': 1})]


class SpcLink(core.Choice):
    _alternatives = [('url', core.IA5String, {'implicit': 0}),
                     ('moniker', core.Any, {'implicit': 1}),
                     ('file', SpcString, {'explicit': 2})]


class SpcAttributeTypeAndOptionalValue(core.Sequence):
    _fields = [('type', core.ObjectIdentifier), ('value', core.Any, {'optional': True})]


class SpcIndirectDataContent(core.Sequence):
    _fields = [('data', SpcAttributeTypeAndOptionalValue), ('message_digest', algos.DigestInfo)]


class CatMemberInfo(core.Sequence):
    _fields = [('subject_guid', core.BMPString), ('cert_version', core.Integer)]


class CatNameValue(core.Sequence):
    _fields = [('tag', core.BMPString), ('flags', core.Integer), ('value', core.OctetString)]


class AttributeValues(core.SetOf):
    _child_spec = core.Any


class Attribute(core.Sequence):
    _fields = [('type', core.ObjectIdentifier), ('values', AttributeValues)]


class Attributes(core.SetOf):
    _child_spec = Attribute


class TrustedSubject(core.Sequence):
    _fields = [('identifier', core.OctetString), ('attributes', Attributes)]


class TrustedSubjects(core.SequenceOf):
    _child_spec = TrustedSubject


class SubjectUsage(core.SequenceOf):
    _child_spec = core.ObjectIdentifier


class AlgorithmIdentifier(core.Sequence):
    _fields = [('algorithm', core.ObjectIdentifier), ('parameters', core.Any, {'optional': True})]


class Extension(core.Sequence):
    _fields = [('id', core.ObjectIdentifier), ('value', core.OctetString)]


class Extensions(core.SequenceOf):
    _child_spec = Extension


class CertificateTrustList(core.Sequence):
    _fields = [
        ('subject_usage', SubjectUsage),
        ('list_identifier', core.OctetString),
        ('this_update', core.UTCTime),
        ('subject_algorithm', AlgorithmIdentifier),
        ('subjects', TrustedSubjects),
        ('extensions', Extensions, {'explicit': 0}),
    ]


class CatalogContentInfo(cms.ContentInfo):
    _oid_specs = {CTL: CertificateTrustList}


def wide(text):
    """A string as the catalog API stores it: UTF-16LE with its terminating NUL."""
    return (text + '\0').encode('utf-16-le')


def name_value(tag, value):
    return CatNameValue({'tag': tag, 'flags': ATTR_FLAGS, 'value': wide(value)})


def attribute(oid, value):
    return Attribute({'type': oid, 'values': [core.Any(value)]})


def member(digest, algorithm, file_name):
    indirect = SpcIndirectDataContent({
        'data': {'type': SPC_CAB_DATA,
                 'value': core.Any(SpcLink(name='file', value=SpcString(name='unicode', value='<<<Obsolete>>>')))},
        'message_digest': {'digest_algorithm': {'algorithm': algorithm, 'parameters': core.Null()},
                           'digest': digest},
    })
    return TrustedSubject({
        'identifier': wide(digest.hex().upper()),
        'attributes': [
            attribute(SPC_INDIRECT_DATA, indirect),
            attribute(CAT_MEMBERINFO, CatMemberInfo({'subject_guid': FLAT_FILE_SUBJECT,
                                                     'cert_version': MEMBER_VERSION})),
            attribute(CAT_NAMEVALUE, name_value('File', file_name)),
            attribute(CAT_NAMEVALUE, name_value('OSAttr', MEMBER_OS)),
        ],
    })


def catalog(hardware_id, files):
    subjects = []
    for path in files:
        with open(path, 'rb') as f:
            data = f.read()
        name = os.path.basename(path).lower()
        subjects.append(member(hashlib.sha1(data).digest(), 'sha1', name))
        subjects.append(member(hashlib.sha256(data).digest(), 'sha256', name))
    # The same files give the same list identifier.
    identifier = hashlib.sha1(b''.join(s['identifier'].native for s in subjects)).digest()[:16]
    now = int(os.environ.get('SOURCE_DATE_EPOCH', time.time()))
    ctl = CertificateTrustList({
        'subject_usage': [CATALOG_LIST],
        'list_identifier': identifier,
        'this_update': datetime.datetime.fromtimestamp(now, datetime.timezone.utc),
        'subject_algorithm': {'algorithm': CATALOG_LIST_MEMBER, 'parameters': core.Null()},
        'subjects': subjects,
        'extensions': [{'id': CAT_NAMEVALUE, 'value': name_value(tag, value).dump()}
                       for tag, value in (('HWID1', hardware_id.lower()), ('OS', CATALOG_OS))],
    })
    signed = cms.SignedData({
        'version': 'v1',
        'digest_algorithms': [],
        'encap_content_info': CatalogContentInfo({'content_type': CTL, 'content': ctl}),
        'signer_infos': [],
    })
    return cms.ContentInfo({'content_type': 'signed_data', 'content': signed}).dump()


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__.strip().splitlines()[-1])
    with open(argv[1], 'wb') as f:
        f.write(catalog(argv[2], argv[3:]))


if __name__ == '__main__':
    main(sys.argv)
