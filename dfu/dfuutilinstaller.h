#ifndef STROBIX_DFUUTILINSTALLER_H
#define STROBIX_DFUUTILINSTALLER_H

#include "dfu/dfuutil.h"

namespace Strobix {

// Writes one image file into the unit.
class DfuUtilInstaller : public DfuUtil
{
    Q_OBJECT

public:
    explicit DfuUtilInstaller(const QString &imagePath);

    // Where the unit's bytes are read back to, in the data folder.
    static const char readBackFileName[];
    // Removes an old read-back file. False when something stays at its path
    // (a folder): nothing could be read back, so the unit must not be written.
    static bool clearReadBackFile();

    // The size of dfu-util's upload requests, which it takes from the unit's
    // DFU functional descriptor: every model's bootloader reports 2048.
    static constexpr int transferSize = 2048;

signals:
    // The tool ran to its end with exit code 0, the unit reads back every
    // element of the image and still identifies by the image's file name;
    // whether the whole image went in shows in the tool's output too.
    void result(bool ok);

public slots:
    void process() override;

private:
    // Whether the unit reads back every element of the image.
    bool unitHoldsImage();
    bool identifiesAsBefore();
    // Whether the unit reads back these bytes at that address.
    bool unitHolds(quint8 alternate, quint32 address, const QByteArray &expected);

    const QString imagePath;
};

} // namespace Strobix

#endif
