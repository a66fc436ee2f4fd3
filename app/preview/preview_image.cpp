#include "app/preview/preview_image.h"

#include "app/app_info.h"
#include "app/main_strings.h"
#include "formats/codec.h"
#include "formats/dibroutines.h"
#include "imaging/dither.h"
#include "imaging/resample.h"

#include <QFile>

#include <algorithm>
#include <cstring>

bool IsBuiltInPreviewPath(const std::string& path) {
    return path.empty() || path.find(LoadString(appids::InternalPreview)) != std::string::npos;
}

KervErrorCode LoadBuiltInPicture(KHANDLE* dib) {
    *dib = nullptr;
    InitAppResources();
    QFile file(QStringLiteral(":/brellix/preview.jpg"));
    if (!file.open(QIODevice::ReadOnly)) return KERV_FILE_OPEN;
    const QByteArray bytes = file.readAll();
    DecodeRequest request;
    request.data = reinterpret_cast<const uint8_t*>(bytes.constData());
    request.size = static_cast<size_t>(bytes.size());
    ImageFileInfo info;
    return DecodeJPG(request, dib, &info);
}

DisplaySize FitDisplaySize(int imageWidth, int imageHeight, int boxWidth, int boxHeight) {
    const int64_t boxW = std::max(boxWidth, 1);
    const int64_t boxH = std::max(boxHeight, 1);
    int64_t w = imageWidth;
    int64_t h = imageHeight;
    bool scaled = false;
    if (w > boxW) {
        h = std::max<int64_t>(1, h * boxW / w);
        w = boxW;
        scaled = true;
    }
    if (h > boxH) {
        w = std::max<int64_t>(1, w * boxH / h);
        h = boxH;
        scaled = true;
    }
    return {static_cast<int>(w), static_cast<int>(h), scaled};
}

KervErrorCode MakeDisplayCopy(KHANDLE image, int boxWidth, int boxHeight, int screenDepth,
                              KHANDLE* result) {
    if (!result) return KERV_INVALID_PARAM;
    *result = nullptr;
    int width = 0, height = 0, bits = 0;
    if (!DIBSize(image, &width, &height, &bits)) return KERV_INVALID_PARAM;
    const DisplaySize size = FitDisplaySize(width, height, boxWidth, boxHeight);
    KHANDLE made = nullptr;
    KervErrorCode code = KERV_OK;
    if (!size.scaled)
        code = CopyDIB(image, &made);
    else if (bits == 24)
        code = ResampleDIB(nullptr, image, &made, static_cast<int16_t>(size.width),
                           static_cast<uint16_t>(size.height));
    else
        code = ResizeDIB(nullptr, image, &made, size.width, size.height);
    KOwnedHandle copy(made);
    if (code != KERV_OK) return code;
    if (screenDepth < 24 && screenDepth < bits) {
        KHANDLE reduced = nullptr;
        code = DitherToStandardPalette(nullptr, copy.get(), &reduced, screenDepth <= 4 ? 4 : 8, 1,
                                       0, std::string());
        if (code != KERV_OK) return code;
        copy.reset(reduced);
    }
    *result = copy.release();
    return KERV_OK;
}

bool DIBSize(KHANDLE dib, int* width, int* height, int* bitCount) {
    if (!dib) return false;
    DIBLock d(dib);
    if (!d) return false;
    *width = d.width();
    *height = d.height();
    *bitCount = d.bitCount();
    return true;
}

QImage DIBToQImage(KHANDLE dib) {
    if (!dib) return {};
    DIBLock d(dib);
    if (!d) return {};
    const int w = d.width();
    const int h = d.height();
    const int bits = d.bitCount();
    if (bits == 24) {
        QImage out(w, h, QImage::Format_BGR888);
        if (out.isNull()) return {};
        for (int y = 0; y < h; ++y)
            std::memcpy(out.scanLine(y), DIBRowFromTop(d.header(), y), size_t(w) * 3);
        return out.convertToFormat(QImage::Format_RGB32);
    }
    QImage out(w, h, QImage::Format_Indexed8);
    if (out.isNull()) return {};
    const uint32_t entries = DIBPaletteEntries(d.header());
    QList<QRgb> table(256, qRgb(0, 0, 0));
    for (uint32_t i = 0; i < entries && i < 256; ++i) {
        const RGBQUAD& e = d.palette()[i];
        table[i] = qRgb(e.rgbRed, e.rgbGreen, e.rgbBlue);
    }
    out.setColorTable(table);
    for (int y = 0; y < h; ++y) {
        const uint8_t* src = DIBRowFromTop(d.header(), y);
        uchar* dst = out.scanLine(y);
        for (int x = 0; x < w; ++x) {
            switch (bits) {
            case 1:
                dst[x] = (src[x >> 3] >> (7 - (x & 7))) & 1;
                break;
            case 4:
                dst[x] = (x & 1) ? (src[x >> 1] & 0x0F) : (src[x >> 1] >> 4);
                break;
            default:
                dst[x] = src[x];
                break;
            }
        }
    }
    return out.convertToFormat(QImage::Format_RGB32);
}
