// The virtual unit's layouts, cells, faults and DfuSe commands, without a host:
// what dfu-util cannot reach or would not show.

#include "dfusedevice.h"
#include "fault.h"
#include "layout.h"
#include "memorycheck.h"
#include "unitmemory.h"
#include "usbdescriptors.h"

#include "dfu/dfuutilinstaller.h"

#include <QtTest>
#include <memory>
#include <vector>

using namespace vu;

Q_DECLARE_METATYPE(vu::Medium)

namespace {

const char sectors[] = "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg";
const char pages[] = "@Internal Flash  /0x08000000/1024*256 g";

// A memory of one alternate setting, filled with a known byte.
struct TestMemory {
    TestMemory(const QString &name, Medium medium, uint8_t fill, uint8_t erased = 0xFF)
    {
        std::vector<AltSetting> alts{parseAltSetting(name.toStdString(), medium, erased)};
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
    void cells_data();
    void cells();
    void erasePage_data();
    void erasePage();
    void faultParsing_data();
    void faultParsing();
    void refusedCommand_data();
    void refusedCommand();
    void imageCheck_data();
    void imageCheck();
    void everyModelsTransferSize();
};

void TestVirtualUnitMemory::cells_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<Medium>("medium");
    QTest::addColumn<QString>("operation");
    QTest::addColumn<uint>("address");
    QTest::addColumn<int>("status");
    QTest::addColumn<uint>("after"); // the first cell's value; the memory holds 0xF0, the data 0x3C
    QTest::addColumn<uint>("got");   // bytes read of 16

    const QString mem = QStringLiteral("@Mem /0x08000000/02*01Kg");
    QTest::newRow("flash programmed without erase keeps cleared bits")
        << mem << Medium::Flash << "program" << 0x08000100u << int(OK) << 0x30u << 0u;
    QTest::newRow("flash that erases to 00 keeps set bits")
        << mem << Medium::Flash << "program-l1" << 0x08000100u << int(OK) << 0xFCu << 0u;
    QTest::newRow("otp programmed keeps cleared bits") << mem << Medium::Otp << "program" << 0x08000100u << int(OK) << 0x30u << 0u;
    QTest::newRow("eeprom overwrites") << mem << Medium::Eeprom << "program" << 0x08000100u << int(OK) << 0x3Cu << 0u;
    QTest::newRow("erasing otp") << mem << Medium::Otp << "erase" << 0x08000100u << int(errERASE) << 0xF0u << 0u;
    QTest::newRow("mass erase of eeprom") << mem << Medium::Eeprom << "mass-erase" << 0u << int(errTARGET) << 0xF0u << 0u;
    QTest::newRow("programming past the end") << mem << Medium::Flash << "program" << 0x080007F8u << int(errADDRESS) << 0xF0u << 0u;
    QTest::newRow("programming read-only memory")
        << "@System /0x08000000/01*01Ka" << Medium::Flash << "program" << 0x08000100u << int(errADDRESS) << 0xF0u << 0u;
    QTest::newRow("reading unreadable memory")
        << "@Mem /0x08000000/01*01Kd" << Medium::Flash << "read" << 0x08000100u << int(errTARGET) << 0xF0u << 0u;
    QTest::newRow("reading stops at the end") << mem << Medium::Flash << "read" << 0x080007F8u << int(OK) << 0xF0u << 8u;
    QTest::newRow("reading stops at an unreadable segment")
        << "@Mem /0x08000000/01*01Ka,01*01Kd" << Medium::Flash << "read" << 0x080003F4u << int(OK) << 0xF0u << 12u;
}

void TestVirtualUnitMemory::cells()
{
    QFETCH(QString, layout);
    QFETCH(Medium, medium);
    QFETCH(QString, operation);
    QFETCH(uint, address);
    QFETCH(int, status);
    QFETCH(uint, after);
    QFETCH(uint, got);
    TestMemory t(layout, medium, 0xF0, operation.endsWith("-l1") ? 0x00 : 0xFF);
    std::vector<uint8_t> data(16, 0x3C);
    uint32_t read = 0;
    DfuStatus result = OK;
    if (operation == "erase")
        result = t.memory->erasePage(0, address);
    else if (operation == "mass-erase")
        result = t.memory->massErase(0);
    else if (operation.startsWith("program"))
        result = t.memory->program(0, address, data.data(), 16);
    else
        result = t.memory->read(0, address, data.data(), 16, read);
    QCOMPARE(int(result), status);
    QCOMPARE(read, got);
    QCOMPARE(uint(t.at(address ? address : 0x08000000)), after);
}

void TestVirtualUnitMemory::erasePage_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<uint>("address");
    QTest::addColumn<uint>("pageStart");
    QTest::addColumn<uint>("pageEnd");

    QTest::newRow("16 KiB sector holding 0x0800F800") << sectors << 0x0800F800u << 0x0800C000u << 0x08010000u;
    QTest::newRow("64 KiB sector after 16 KiB ones") << sectors << 0x08012345u << 0x08010000u << 0x08020000u;
    QTest::newRow("256-byte page") << pages << 0x0800F8A0u << 0x0800F800u << 0x0800F900u;
}

void TestVirtualUnitMemory::erasePage()
{
    QFETCH(QString, layout);
    QFETCH(uint, address);
    QFETCH(uint, pageStart);
    QFETCH(uint, pageEnd);
    TestMemory t(layout, Medium::Flash, 0x00);
    QCOMPARE(t.memory->erasePage(0, address), OK);
    QCOMPARE(uint(t.at(pageStart)), 0xFFu);
    QCOMPARE(uint(t.at(pageEnd - 1)), 0xFFu);
    QCOMPARE(uint(t.at(pageStart - 1)), 0x00u);
    QCOMPARE(uint(t.at(pageEnd)), 0x00u);
}

void TestVirtualUnitMemory::faultParsing_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("kind"); // -1: refused
    QTest::addColumn<uint>("n");

    QTest::newRow("count left out") << "unplug" << int(Fault::Unplug) << 0u;
    QTest::newRow("sector left out") << "write-protected" << -1 << 0u;
    QTest::newRow("unknown") << "explode" << -1 << 0u;
}

void TestVirtualUnitMemory::faultParsing()
{
    QFETCH(QString, text);
    QFETCH(int, kind);
    QFETCH(uint, n);
    if (kind < 0) {
        QVERIFY_EXCEPTION_THROWN(Fault::parse(text.toStdString()), std::invalid_argument);
        return;
    }
    const Fault fault = Fault::parse(text.toStdString());
    QCOMPARE(int(fault.kind), kind);
    QCOMPARE(fault.n, n);
}

// dfu-util checks addresses against the layout before it asks, so only a unit
// test reaches the unit's own refusals.
void TestVirtualUnitMemory::refusedCommand_data()
{
    QTest::addColumn<int>("command");
    QTest::newRow("set address outside memory") << int(CMD_SET_ADDRESS);
    QTest::newRow("erase outside memory") << int(CMD_ERASE);
}

void TestVirtualUnitMemory::refusedCommand()
{
    QFETCH(int, command);
    TestMemory t(sectors, Medium::Flash, 0x00);
    DfuseDevice device(*t.memory, Fault{});
    uint8_t request[5] = {uint8_t(command), 0x00, 0x00, 0x00, 0x30};
    uint8_t status[6] = {};
    QCOMPARE(device.request(DFU_DNLOAD, 0, request, 5), 5);
    QCOMPARE(device.request(DFU_GETSTATUS, 0, status, 6), 6);
    QCOMPARE(int(status[4]), int(dfuDNBUSY)); // the host insists on hearing "busy" first
    QCOMPARE(device.request(DFU_GETSTATUS, 0, status, 6), 6);
    QCOMPARE(int(status[4]), int(dfuERROR));
    QCOMPARE(int(status[0]), int(errTARGET));
}

void TestVirtualUnitMemory::imageCheck_data()
{
    QTest::addColumn<uint>("touchAddress");
    QTest::addColumn<uint>("touchValue");
    QTest::addColumn<uint>("erased");
    QTest::addColumn<bool>("ok");

    // The element covers 0x08000100..0x080001FF in 512-byte pages of 0x55 cells;
    // "touch" changes one cell after the element is written.
    QTest::newRow("erased in a page the element touches") << 0x08000050u << 0xFFu << 0xFFu << true;
    QTest::newRow("erased to 00 in a page the element touches") << 0x08000050u << 0x00u << 0x00u << true;
    QTest::newRow("erased elsewhere") << 0x08000400u << 0xFFu << 0xFFu << false;
    QTest::newRow("element byte wrong") << 0x08000180u << 0x00u << 0xFFu << false;
}

void TestVirtualUnitMemory::imageCheck()
{
    QFETCH(uint, touchAddress);
    QFETCH(uint, touchValue);
    QFETCH(uint, erased);
    QFETCH(bool, ok);
    const QString layout = QStringLiteral("@Flash /0x08000000/08*512 g");
    TestMemory pristine(layout, Medium::Flash, 0x55, uint8_t(erased));
    TestMemory unit(layout, Medium::Flash, 0x55, uint8_t(erased));
    Strobix::DfuseImage image;
    image.elements.append({0, 0x08000100, QByteArray(256, '\xC3')});
    std::fill_n(unit.memory->raw(0, 0x08000100), 256, 0xC3);
    *unit.memory->raw(0, touchAddress) = uint8_t(touchValue);
    QCOMPARE(checkImage(*unit.memory, image, pristine.memory.get()).ok(), ok);
}

// The installer reads back in whole transfers of its own size; dfu-util takes
// the size from the DFU functional descriptor after the last alternate setting.
void TestVirtualUnitMemory::everyModelsTransferSize()
{
    for (const Profile &profile : allProfiles()) {
        const UsbDescriptors descriptors(profile);
        const libusb_interface &interface = descriptors.config().interface[0];
        const libusb_interface_descriptor &last = interface.altsetting[interface.num_altsetting - 1];
        QVERIFY(last.extra_length >= 7 && last.extra[1] == 0x21);
        QVERIFY2((last.extra[5] | last.extra[6] << 8) == Strobix::DfuUtilInstaller::transferSize,
                 profile.name.c_str());
    }
}

QTEST_GUILESS_MAIN(TestVirtualUnitMemory)
#include "tst_vu_memory.moc"
