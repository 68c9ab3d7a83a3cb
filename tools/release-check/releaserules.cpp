#include "releaserules.h"

#include "dfu/dfuutil.h"

#include <QtEndian>

namespace ReleaseCheck {

namespace {

const quint16 unitVendor = 0x0483;
const quint16 unitProduct = 0xdf11;
const int imageSizeAt = 6;

} // namespace

QString checkReleaseImage(const QByteArray &file, Strobix::DfuseImage &image)
{
    const QString problem = Strobix::DfuseImage::read(file, &image);
    if (!problem.isEmpty())
        return problem;
    // dfu-util takes 0xffff for any device; a release names its device.
    if (image.vendor != unitVendor || image.product != unitProduct)
        return QStringLiteral("suffix is for %1:%2, not %3")
            .arg(image.vendor, 4, 16, QLatin1Char('0'))
            .arg(image.product, 4, 16, QLatin1Char('0'))
            .arg(QLatin1String(Strobix::dfuDeviceId));
    // Neither dfu-util nor the updater reads it; a packer that gets it wrong may get more wrong.
    const quint32 imageSize = qFromLittleEndian<quint32>(file.constData() + imageSizeAt);
    if (imageSize != quint32(file.size()))
        return QStringLiteral("prefix image size %1, but the file has %2 bytes").arg(imageSize).arg(file.size());
    for (int i = 0; i < image.elements.size(); ++i) {
        const Strobix::DfuseImage::Element &e = image.elements.at(i);
        // dfu-util skips another setting's elements and still succeeds.
        if (e.alternate != 0)
            return QStringLiteral("element %1 is for alternate setting %2, the updater writes 0")
                .arg(i + 1)
                .arg(e.alternate);
    }
    return QString();
}

} // namespace ReleaseCheck
