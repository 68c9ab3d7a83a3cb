/*
 * Checks a driver catalog as Windows' wintrust reads it: the INF's SHA-1 hash
 * (CryptCATAdminCalcHashFromFileHandle) and its SHA-256 hash are members, each
 * under its hash as reference tag, and WinVerifyTrust trusts the catalog's
 * signature, from a chain that ends in a root the machine trusts. One line
 * per check; exit status 0 only when all pass.
 * Usage: catcheck <inf> <cat>
 */
#include <windows.h>
#include <wincrypt.h>
#include <wintrust.h>
#include <softpub.h>
#include <mscat.h>
#include <stdio.h>
#include <string.h>
#include <wchar.h>

static BOOL sha256(HANDLE file, BYTE *hash, DWORD *size)
{
    HCRYPTPROV prov;
    HCRYPTHASH h;
    BYTE buffer[4096];
    DWORD got;
    BOOL ok = CryptAcquireContextW(&prov, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)
              && CryptCreateHash(prov, CALG_SHA_256, 0, 0, &h);
    SetFilePointer(file, 0, NULL, FILE_BEGIN);
    while (ok && (ok = ReadFile(file, buffer, sizeof buffer, &got, NULL)) && got)
        ok = CryptHashData(h, buffer, got, 0);
    return ok && CryptGetHashParam(h, HP_HASHVAL, hash, size, 0);
}

/* A member that carries the hash, under the hash as its tag, as Windows looks it up. */
static BOOL listed(HANDLE cat, const BYTE *hash, DWORD size)
{
    WCHAR tag[2 * 64 + 1];
    for (DWORD i = 0; i < size; i++)
        swprintf(tag + 2 * i, 3, L"%02X", hash[i]);
    for (CRYPTCATMEMBER *m = NULL; (m = CryptCATEnumerateMember(cat, m)); ) {
        const CRYPT_HASH_BLOB *d = &m->pIndirectData->Digest;
        if (d->cbData == size && !memcmp(d->pbData, hash, size) && !wcscmp(m->pwszReferenceTag, tag))
            return TRUE;
    }
    return FALSE;
}

/* WinVerifyTrust's verdict, and the Authenticode chain policy applied to the
   chain it built: Wine 8 skips that policy for a certificate signed with
   SHA-256 (it asks for the signature hash in a 20-byte buffer), so an
   untrusted root would pass it unnoticed. */
static LONG trust(WCHAR *cat, LONG *chain_error)
{
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    WINTRUST_FILE_INFO file = {sizeof file, cat, NULL, NULL};
    WINTRUST_DATA data;
    memset(&data, 0, sizeof data);
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    LONG status = WinVerifyTrust(INVALID_HANDLE_VALUE, &action, &data);
    CRYPT_PROVIDER_DATA *provider = WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR *signer = provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : NULL;
    CERT_CHAIN_POLICY_PARA para = {sizeof para, 0, NULL};
    CERT_CHAIN_POLICY_STATUS policy = {sizeof policy, 0, 0, 0, NULL};
    *chain_error = TRUST_E_NOSIGNATURE;
    if (signer && signer->pChainContext
        && CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_AUTHENTICODE, signer->pChainContext, &para, &policy))
        *chain_error = (LONG)policy.dwError;
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(INVALID_HANDLE_VALUE, &action, &data);
    return status;
}

static int check(const char *what, BOOL ok)
{
    printf("%s: %s\n", what, ok ? "ok" : "FAILED");
    return ok ? 0 : 1;
}

int wmain(int argc, WCHAR **argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: catcheck <inf> <cat>\n");
        return 2;
    }
    HANDLE inf = CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL);
    HANDLE cat = CryptCATOpen(argv[2], CRYPTCAT_OPEN_EXISTING, 0, 0, 0);
    if (inf == INVALID_HANDLE_VALUE || cat == INVALID_HANDLE_VALUE) {
        printf("cannot open the INF or the catalog: error %lu\n", GetLastError());
        return 1;
    }
    BYTE sha1_hash[20], sha256_hash[32];
    DWORD sha1_size = sizeof sha1_hash, sha256_size = sizeof sha256_hash;
    int failed = check("the INF's SHA-1 is computed",
                       CryptCATAdminCalcHashFromFileHandle(inf, &sha1_size, sha1_hash, 0))
                 + check("the INF's SHA-256 is computed", sha256(inf, sha256_hash, &sha256_size));
    if (!failed) {
        failed += check("the catalog lists the INF's SHA-1", listed(cat, sha1_hash, sha1_size));
        failed += check("the catalog lists the INF's SHA-256", listed(cat, sha256_hash, sha256_size));
    }
    LONG chain_error, status = trust(argv[2], &chain_error);
    failed += check("WinVerifyTrust accepts the catalog's signature", status == ERROR_SUCCESS);
    failed += check("the signer's chain ends in a trusted root", chain_error == ERROR_SUCCESS);
    if (status != ERROR_SUCCESS || chain_error != ERROR_SUCCESS)
        printf("  WinVerifyTrust 0x%08lx, chain policy 0x%08lx\n", (unsigned long)status,
               (unsigned long)chain_error);
    CryptCATClose(cat);
    CloseHandle(inf);
    return failed ? 1 : 0;
}
