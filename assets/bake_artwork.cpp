// bake_artwork IN.bmp OUT: writes a picture as the programs show it, so that
// they need not read a BMP at all while their first window comes up (the
// image reader alone first looks through every image plugin on the machine).
// The layout is StoredPixels.h's.
#include "StoredPixels.h"

#include <QImage>
#include <QSaveFile>
#include <cstdio>

int main(int argc, char* argv[])
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: bake_artwork IN.bmp OUT\n");
        return 2;
    }
    const QImage picture = QImage(QString::fromLocal8Bit(argv[1]), "BMP");
    if (picture.isNull()) {
        std::fprintf(stderr, "bake_artwork: cannot read %s\n", argv[1]);
        return 1;
    }
    const QByteArray out = StoredPixels::encode(picture);
    QSaveFile file(QString::fromLocal8Bit(argv[2]));
    if (!file.open(QIODevice::WriteOnly) || file.write(out) != out.size() || !file.commit()) {
        std::fprintf(stderr, "bake_artwork: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
