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
    // The tool ran to its end with exit code 0; whether the whole image went
    // in shows in its output too.
    void result(bool ok);

public slots:
    void process() override;

private:
    const QString imagePath;
};

} // namespace Strobix

#endif
