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

signals:
    // The tool ran to its end with exit code 0 and the unit reads back every
    // element of the image; whether the whole image went in shows in the
    // tool's output too.
    void result(bool ok);

public slots:
    void process() override;

private:
    // The unit's transfer size, which dfu-util takes from it.
    static const int transferSize = 2048;

    bool readsBack();
    bool readBack(quint8 alternate, quint32 address, const QByteArray &expected);

    const QString imagePath;
};

} // namespace Strobix

#endif
