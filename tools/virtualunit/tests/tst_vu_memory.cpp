// The virtual unit's memory, layouts, faults and DfuSe state machine, without a host.

#include "dfusedevice.h"
#include "dfuseimage.h"
#include "fault.h"
#include "layout.h"
#include "memorycheck.h"
#include "profiles.h"
#include "unitmemory.h"

#include <QtTest>
#include <libusb.h>
#include <memory>
#include <vector>

using namespace vu;

Q_DECLARE_METATYPE(vu::Medium)

namespace {

const char kSectors[] = "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg";
const char kPages[] = "@Internal Flash  /0x08000000/1024*256 g";

// A memory of one alternate setting, filled with a known byte.
struct TestMemory {
    TestMemory(const char *name, Medium medium, uint8_t fill)
    {
        std::vector<AltSetting> alts{parseAltSetting(name, medium)};
        storage.assign(UnitMemory::storageSize(alts), fill);
        memory = std::make_unique<UnitMemory>(alts, storage.data());
    }
    uint8_t at(uint32_t address) const { return *memory->raw(0, address); }

    std::vector<uint8_t> storage;
    std::unique_ptr<UnitMemory> memory;
};

} // namespace

class TestVirtualUnitMemory : public QObject {
    Q_OBJECT

private slots:
    void layoutParsing_data();
    void layoutParsing();
    void badLayoutIsRefused_data();
    void badLayoutIsRefused();
    void programming_data();
    void programming();
    void erasePage_data();
    void erasePage();
    void refusedOperations_data();
    void refusedOperations();
    void readStopsAtEndOfReadableMemory_data();
    void readStopsAtEndOfReadableMemory();
    void faultParsing_data();
    void faultParsing();
    void dataBlockAddress_data();
    void dataBlockAddress();
    void commandStatusSequence_data();
    void commandStatusSequence();
    void imageCheck_data();
    void imageCheck();
    void suffixCrc();
};

void TestVirtualUnitMemory::layoutParsing_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("segments");
    QTest::addColumn<uint>("firstPageSize");
    QTest::addColumn<uint>("totalSize");
    QTest::addColumn<uint>("lastAccess");

    QTest::newRow("sectors of three sizes") << kSectors << 3 << 16384u << 1048576u << 7u;
    QTest::newRow("blank as unit means bytes") << "@OTP Memory /0x1FFF7800/01*512 g,01*016 g" << 2 << 512u << 528u << 7u;
    QTest::newRow("read-write eeprom") << "@Data EEPROM /0x08080000/01*04Ke" << 1 << 4096u << 4096u << 5u;
    QTest::newRow("read-only") << "@System /0x1FFF0000/01*030Ka" << 1 << 30720u << 30720u << 1u;
}

void TestVirtualUnitMemory::layoutParsing()
{
    QFETCH(int, segments);
    QFETCH(uint, firstPageSize);
    QFETCH(uint, totalSize);
    QFETCH(uint, lastAccess);
    QFETCH(QString, name);
    const AltSetting alt = parseAltSetting(name.toStdString(), Medium::Flash);
    QCOMPARE(int(alt.segments.size()), segments);
    QCOMPARE(alt.segments.front().pageSize, firstPageSize);
    QCOMPARE(alt.size(), totalSize);
    QCOMPARE(alt.segments.back().access, lastAccess);
}

void TestVirtualUnitMemory::badLayoutIsRefused_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("no leading @") << "Internal Flash/0x08000000/04*016Kg";
    QTest::newRow("no address") << "@Internal Flash/04*016Kg";
    QTest::newRow("no type letter") << "@Internal Flash/0x08000000/04*016K";
    QTest::newRow("empty segment") << "@Internal Flash/0x08000000/00*016Kg";
}

void TestVirtualUnitMemory::badLayoutIsRefused()
{
    QFETCH(QString, name);
    QVERIFY_EXCEPTION_THROWN(parseAltSetting(name.toStdString(), Medium::Flash), std::invalid_argument);
}

void TestVirtualUnitMemory::programming_data()
{
    QTest::addColumn<Medium>("medium");
    QTest::addColumn<bool>("eraseFirst");
    QTest::addColumn<uint>("before");
    QTest::addColumn<uint>("written");
    QTest::addColumn<uint>("after");

    QTest::newRow("flash, erased first") << Medium::Flash << true << 0x0Fu << 0x5Au << 0x5Au;
    QTest::newRow("flash without erase keeps cleared bits") << Medium::Flash << false << 0xF0u << 0x3Cu << 0x30u;
    QTest::newRow("flash, same bytes twice") << Medium::Flash << false << 0xA5u << 0xA5u << 0xA5u;
    QTest::newRow("otp keeps cleared bits") << Medium::Otp << false << 0x0Fu << 0xFFu << 0x0Fu;
    QTest::newRow("eeprom overwrites") << Medium::Eeprom << false << 0x0Fu << 0xF0u << 0xF0u;
}

void TestVirtualUnitMemory::programming()
{
    QFETCH(bool, eraseFirst);
    QFETCH(uint, after);
    QFETCH(Medium, medium);
    QFETCH(uint, before);
    QFETCH(uint, written);
    TestMemory t("@Mem /0x08000000/02*01Kg", medium, uint8_t(before));
    if (eraseFirst)
        QCOMPARE(t.memory->erasePage(0, 0x08000000), OK);
    const std::vector<uint8_t> data(16, uint8_t(written));
    QCOMPARE(t.memory->program(0, 0x08000100, data.data(), uint32_t(data.size())), OK);
    QCOMPARE(uint(t.at(0x08000100)), after);
    QCOMPARE(uint(t.at(0x0800010F)), after);
    QCOMPARE(t.at(0x08000110), t.at(0x080000FF)); // neighbours untouched
}

void TestVirtualUnitMemory::erasePage_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<uint>("address");
    QTest::addColumn<uint>("pageStart");
    QTest::addColumn<uint>("pageEnd");

    QTest::newRow("first 16 KiB sector") << kSectors << 0x08000010u << 0x08000000u << 0x08004000u;
    QTest::newRow("sector holding 0x0800F800") << kSectors << 0x0800F800u << 0x0800C000u << 0x08010000u;
    QTest::newRow("64 KiB sector") << kSectors << 0x08012345u << 0x08010000u << 0x08020000u;
    QTest::newRow("last 128 KiB sector") << kSectors << 0x080FFFFFu << 0x080E0000u << 0x08100000u;
    QTest::newRow("256-byte page") << kPages << 0x0800F8A0u << 0x0800F800u << 0x0800F900u;
}

void TestVirtualUnitMemory::erasePage()
{
    QFETCH(uint, address);
    QFETCH(QString, layout);
    QFETCH(uint, pageStart);
    QFETCH(uint, pageEnd);
    const std::string name = layout.toStdString();
    TestMemory t(name.c_str(), Medium::Flash, 0x00);
    QCOMPARE(t.memory->erasePage(0, address), OK);
    QCOMPARE(uint(t.at(pageStart)), 0xFFu);
    QCOMPARE(uint(t.at(pageEnd - 1)), 0xFFu);
    if (pageStart > 0x08000000)
        QCOMPARE(uint(t.at(pageStart - 1)), 0x00u);
    if (pageEnd < 0x08100000 && t.memory->altSettings()[0].segmentAt(pageEnd))
        QCOMPARE(uint(t.at(pageEnd)), 0x00u);
}

void TestVirtualUnitMemory::refusedOperations_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<Medium>("medium");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<uint>("address");
    QTest::addColumn<uint>("length");
    QTest::addColumn<int>("expected");

    const QString otp = "@OTP Memory /0x1FFF7800/01*512 g,01*016 g";
    const QString readOnly = "@System /0x1FFF0000/01*01Ka";
    const QString writeOnly = "@Mem /0x20000000/01*01Kd";
    QTest::newRow("erasing otp") << otp << Medium::Otp << "erase" << 0x1FFF7800u << 0u << int(errERASE);
    QTest::newRow("erasing read-only memory") << readOnly << Medium::Flash << "erase" << 0x1FFF0000u << 0u << int(errTARGET);
    QTest::newRow("mass erase of eeprom") << "@Data EEPROM /0x08080000/01*04Ke" << Medium::Eeprom << "mass-erase" << 0u << 0u << int(errTARGET);
    QTest::newRow("programming read-only memory") << readOnly << Medium::Flash << "program" << 0x1FFF0000u << 16u << int(errADDRESS);
    QTest::newRow("programming past the end") << readOnly.left(0) + kPages << Medium::Flash << "program" << 0x0803FFF8u << 16u << int(errADDRESS);
    QTest::newRow("programming outside memory") << QString(kPages) << Medium::Flash << "program" << 0x20000000u << 16u << int(errADDRESS);
    QTest::newRow("reading unreadable memory") << writeOnly << Medium::Flash << "read" << 0x20000000u << 16u << int(errTARGET);
    QTest::newRow("reading outside memory") << QString(kPages) << Medium::Flash << "read" << 0x1FFF7800u << 16u << int(errTARGET);
}

void TestVirtualUnitMemory::refusedOperations()
{
    QFETCH(Medium, medium);
    QFETCH(int, expected);
    QFETCH(QString, layout);
    QFETCH(QString, operation);
    QFETCH(uint, address);
    QFETCH(uint, length);
    const std::string name = layout.toStdString();
    TestMemory t(name.c_str(), medium, 0x5A);
    const std::vector<uint8_t> before = t.storage;
    std::vector<uint8_t> data(length, 0x00);
    uint32_t got = 0;
    DfuStatus status = OK;
    if (operation == "erase")
        status = t.memory->erasePage(0, address);
    else if (operation == "mass-erase")
        status = t.memory->massErase(0);
    else if (operation == "program")
        status = t.memory->program(0, address, data.data(), length);
    else
        status = t.memory->read(0, address, data.data(), length, got);
    QCOMPARE(int(status), expected);
    QVERIFY(t.storage == before);
    QCOMPARE(got, 0u);
}

void TestVirtualUnitMemory::readStopsAtEndOfReadableMemory_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<uint>("address");
    QTest::addColumn<uint>("length");
    QTest::addColumn<uint>("expectedLength");

    const QString otp = "@OTP Memory /0x1FFF7800/01*512 g,01*016 g";
    QTest::newRow("inside") << otp << 0x1FFF7800u << 256u << 256u;
    QTest::newRow("across two segments") << otp << 0x1FFF7900u << 260u << 260u;
    QTest::newRow("past the end") << otp << 0x1FFF7A00u << 2048u << 16u;
    QTest::newRow("up to an unreadable segment") << "@Mem /0x20000000/01*01Ka,01*01Kd" << 0x20000200u << 2048u << 512u;
}

void TestVirtualUnitMemory::readStopsAtEndOfReadableMemory()
{
    QFETCH(uint, address);
    QFETCH(uint, expectedLength);
    QFETCH(QString, layout);
    QFETCH(uint, length);
    const std::string name = layout.toStdString();
    TestMemory t(name.c_str(), Medium::Otp, 0x11);
    std::vector<uint8_t> out(length, 0);
    uint32_t got = 0;
    QCOMPARE(t.memory->read(0, address, out.data(), length, got), OK);
    QCOMPARE(got, expectedLength);
    QCOMPARE(uint(out[got - 1]), 0x11u);
}

void TestVirtualUnitMemory::faultParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<int>("kind");
    QTest::addColumn<uint>("n");

    QTest::newRow("none") << "none" << true << int(Fault::None) << 0u;
    QTest::newRow("absent") << "absent" << true << int(Fault::Absent) << 0u;
    QTest::newRow("program-fail with block") << "program-fail:3" << true << int(Fault::ProgramFail) << 3u;
    QTest::newRow("program-fail without block") << "program-fail" << false << 0 << 0u;
    QTest::newRow("program-fail of block 0") << "program-fail:0" << false << 0 << 0u;
    QTest::newRow("status-fail-after-last") << "status-fail-after-last" << true << int(Fault::StatusFailAfterLast) << 0u;
    QTest::newRow("stop-answering at once") << "stop-answering" << true << int(Fault::StopAnswering) << 0u;
    QTest::newRow("stop-answering later") << "stop-answering:12" << true << int(Fault::StopAnswering) << 12u;
    QTest::newRow("unplug later") << "unplug:2" << true << int(Fault::Unplug) << 2u;
    QTest::newRow("count on a fault without one") << "absent:1" << false << 0 << 0u;
    QTest::newRow("negative count") << "unplug:-1" << false << 0 << 0u;
    QTest::newRow("trailing garbage") << "stop-answering:3x" << false << 0 << 0u;
    QTest::newRow("unknown") << "explode" << false << 0 << 0u;
}

void TestVirtualUnitMemory::faultParsing()
{
    QFETCH(bool, valid);
    QFETCH(int, kind);
    QFETCH(uint, n);
    QFETCH(QString, text);
    if (!valid) {
        QVERIFY_EXCEPTION_THROWN(Fault::parse(text.toStdString()), std::invalid_argument);
        return;
    }
    const Fault fault = Fault::parse(text.toStdString());
    QCOMPARE(int(fault.kind), kind);
    QCOMPARE(fault.n, n);
}

namespace {

// Drives the DFU interface the way a host does, one request at a time.
struct Host {
    explicit Host(UnitMemory &memory, Fault fault = {}) : device(memory, fault) {}

    int command(uint8_t cmd, uint32_t address)
    {
        uint8_t buf[5] = {cmd, uint8_t(address), uint8_t(address >> 8), uint8_t(address >> 16), uint8_t(address >> 24)};
        return device.request(DFU_DNLOAD, 0, buf, 5);
    }
    // Returns the state reported, or the libusb error.
    int status()
    {
        uint8_t buf[6] = {};
        const int r = device.request(DFU_GETSTATUS, 0, buf, 6);
        lastStatus = buf[0];
        return r < 0 ? r : buf[4];
    }
    void settle()
    {
        while (device.state() == dfuDNLOAD_SYNC || device.state() == dfuDNBUSY)
            status();
    }

    DfuseDevice device;
    uint8_t lastStatus = 0;
};

} // namespace

void TestVirtualUnitMemory::dataBlockAddress_data()
{
    QTest::addColumn<int>("block");
    QTest::addColumn<uint>("address");
    QTest::newRow("block 2 at the pointer") << 2 << 0x08004000u;
    QTest::newRow("block 3 one transfer further") << 3 << 0x08004800u;
    QTest::newRow("block 5") << 5 << 0x08005800u;
}

void TestVirtualUnitMemory::dataBlockAddress()
{
    QFETCH(int, block);
    QFETCH(uint, address);
    TestMemory t(kSectors, Medium::Flash, 0xFF);
    Host host(*t.memory);
    QCOMPARE(host.command(CMD_SET_ADDRESS, 0x08004000), 5);
    host.settle();
    std::vector<uint8_t> data(kTransferSize, 0x42);
    QCOMPARE(host.device.request(DFU_DNLOAD, uint16_t(block), data.data(), uint16_t(data.size())), int(kTransferSize));
    host.settle();
    QCOMPARE(int(host.device.state()), int(dfuDNLOAD_IDLE));
    QCOMPARE(uint(t.at(address)), 0x42u);
    QCOMPARE(uint(t.at(address + kTransferSize - 1)), 0x42u);
    QCOMPARE(uint(t.at(address - 1)), 0xFFu);
    QCOMPARE(uint(t.at(address + kTransferSize)), 0xFFu);

    // An upload reads by the same rule.
    QCOMPARE(host.device.request(DFU_ABORT, 0, nullptr, 0), 0);
    std::vector<uint8_t> back(16, 0);
    QCOMPARE(host.device.request(DFU_UPLOAD, uint16_t(block), back.data(), 16), 16);
    QCOMPARE(uint(back[0]), 0x42u);
}

void TestVirtualUnitMemory::commandStatusSequence_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<uint>("address");
    QTest::addColumn<int>("finalState");
    QTest::addColumn<int>("finalStatus");

    QTest::newRow("set address") << int(CMD_SET_ADDRESS) << 0x08004000u << int(dfuDNLOAD_IDLE) << int(OK);
    QTest::newRow("erase page") << int(CMD_ERASE) << 0x08004000u << int(dfuDNLOAD_IDLE) << int(OK);
    QTest::newRow("set address outside memory") << int(CMD_SET_ADDRESS) << 0x30000000u << int(dfuERROR) << int(errTARGET);
    QTest::newRow("erase outside memory") << int(CMD_ERASE) << 0x30000000u << int(dfuERROR) << int(errTARGET);
}

void TestVirtualUnitMemory::commandStatusSequence()
{
    QFETCH(int, command);
    QFETCH(uint, address);
    QFETCH(int, finalState);
    QFETCH(int, finalStatus);
    TestMemory t(kSectors, Medium::Flash, 0x00);
    Host host(*t.memory);
    QCOMPARE(host.status(), int(dfuIDLE));
    QCOMPARE(host.command(uint8_t(command), address), 5);
    // The host insists on hearing "busy" first after a command.
    QCOMPARE(host.status(), int(dfuDNBUSY));
    QCOMPARE(host.status(), finalState);
    QCOMPARE(int(host.lastStatus), finalStatus);
    if (host.device.state() == dfuERROR) {
        QCOMPARE(host.device.request(DFU_CLRSTATUS, 0, nullptr, 0), 0);
    } else {
        QCOMPARE(host.device.request(DFU_ABORT, 0, nullptr, 0), 0);
    }
    QCOMPARE(host.status(), int(dfuIDLE));
    QCOMPARE(int(host.lastStatus), int(OK));
}

void TestVirtualUnitMemory::imageCheck_data()
{
    QTest::addColumn<uint>("touchAddress");
    QTest::addColumn<uint>("touchValue");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("erasedAround");

    // The element covers 0x08000100..0x080001FF in 512-byte pages of 0x00 cells;
    // "touch" changes one cell after the element is written.
    QTest::newRow("image in place") << 0u << 0u << true << 0u;
    QTest::newRow("element byte wrong") << 0x08000180u << 0x00u << false << 0u;
    QTest::newRow("stray change elsewhere") << 0x08000400u << 0x12u << false << 0u;
    QTest::newRow("erased elsewhere") << 0x08000400u << 0xFFu << false << 0u;
    QTest::newRow("erased in a page the element touches") << 0x08000050u << 0xFFu << true << 1u;
}

void TestVirtualUnitMemory::imageCheck()
{
    QFETCH(uint, touchValue);
    QFETCH(bool, ok);
    QFETCH(uint, erasedAround);
    QFETCH(uint, touchAddress);
    TestMemory pristine("@Flash /0x08000000/08*512 g", Medium::Flash, 0x00);
    TestMemory unit("@Flash /0x08000000/08*512 g", Medium::Flash, 0x00);
    DfuseImage image;
    image.elements.push_back({0, 0x08000100, std::vector<uint8_t>(256, 0xC3)});
    std::fill_n(unit.memory->raw(0, 0x08000100), 256, 0xC3);
    if (touchAddress)
        *unit.memory->raw(0, touchAddress) = uint8_t(touchValue);
    const ImageCheck check = checkImage(*unit.memory, image, pristine.memory.get());
    QCOMPARE(check.ok(), ok);
    QCOMPARE(check.erasedAround, erasedAround);
}

void TestVirtualUnitMemory::suffixCrc()
{
    // The standard check value of CRC-32 is 0xCBF43926; DFU leaves out the final inversion.
    const char text[] = "123456789";
    QCOMPARE(dfuCrc(reinterpret_cast<const uint8_t *>(text), 9), ~0xCBF43926u);
}

QTEST_GUILESS_MAIN(TestVirtualUnitMemory)
#include "tst_vu_memory.moc"
