// Build-time tool: writes the program icon as a PNG of a given size.
//
//   scale_icon IN.xpm SIZE OUT.png
//
// The icon is pixel art, so it is enlarged by repeating pixels (nearest
// neighbour), never smoothed; SIZE should be a whole multiple of the source.
#include <QImage>
#include <QString>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s IN.xpm SIZE OUT.png\n", argv[0]);
        return 2;
    }
    const QString in = QString::fromLocal8Bit(argv[1]);
    const QString out = QString::fromLocal8Bit(argv[3]);
    bool ok = false;
    const int size = QString::fromLatin1(argv[2]).toInt(&ok);
    if (!ok || size <= 0) {
        std::fprintf(stderr, "%s: bad size: %s\n", argv[0], argv[2]);
        return 2;
    }
    QImage image(in);
    if (image.isNull()) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    if (size % image.width() != 0 || size % image.height() != 0)
        std::fprintf(stderr, "%s: warning: %d is not a multiple of %dx%d\n", argv[0], size,
                     image.width(), image.height());
    image = image.convertToFormat(QImage::Format_ARGB32)
                .scaled(size, size, Qt::IgnoreAspectRatio, Qt::FastTransformation);
    if (!image.save(out, "PNG")) {
        std::fprintf(stderr, "%s: cannot write %s\n", argv[0], argv[3]);
        return 1;
    }
    return 0;
}
