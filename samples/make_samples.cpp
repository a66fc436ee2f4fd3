// Writes the sample images and the demonstration script of samples/.
//
//   brellix-make-samples SAMPLES-FOLDER
//   brellix-make-samples --photos FOLDER COUNT   (benchmark input)
//
// The images go to SAMPLES-FOLDER/images/, the script to
// SAMPLES-FOLDER/demo.ksc, a watermark badge to SAMPLES-FOLDER/watermark.png.
// Everything is drawn here (gradients, shapes, a cloudy landscape) and
// written with Brellix's own encoders, so the files are reproducible.
#include "batch/output_options.h"
#include "core/dib.h"
#include "core/kmem.h"
#include "formats/format_table.h"
#include "formats/imagefile.h"
#include "script/commands.h"
#include "script/script.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

struct RGB8 {
    uint8_t r, g, b;
};

uint8_t Clamp(double v) {
    return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v + 0.5);
}

// A 24-bit image from a colour function of (x, y).
template <class F> KHANDLE Draw24(int w, int h, F colour) {
    KHANDLE dib = AllocDIB(w, h, 24, 0);
    DIBLock d(dib);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = DIBRowFromTop(d.header(), y);
        for (int x = 0; x < w; ++x) {
            const RGB8 c = colour(x, y);
            row[3 * x] = c.b, row[3 * x + 1] = c.g, row[3 * x + 2] = c.r;
        }
    }
    return dib;
}

// A palette image: index function of (x, y), palette given as colours.
template <class F>
KHANDLE DrawIndexed(int w, int h, int bits, const RGB8* pal, int count, F index) {
    KHANDLE dib = AllocDIB(w, h, bits, static_cast<uint32_t>(count));
    DIBLock d(dib);
    for (int i = 0; i < count; ++i)
        d.palette()[i] = {pal[i].b, pal[i].g, pal[i].r, 0};
    for (int y = 0; y < h; ++y) {
        uint8_t* row = DIBRowFromTop(d.header(), y);
        for (int x = 0; x < w; ++x) {
            const int v = index(x, y);
            if (bits == 8) {
                row[x] = static_cast<uint8_t>(v);
            } else if (bits == 4) {
                row[x / 2] |= static_cast<uint8_t>((x % 2) ? v : v << 4);
            } else {
                if (v) row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
            }
        }
    }
    return dib;
}

// Value noise with smooth interpolation, summed over octaves: a cloud texture.
double Hash(int x, int y) {
    uint32_t h = static_cast<uint32_t>(x) * 374761393u + static_cast<uint32_t>(y) * 668265263u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return ((h ^ (h >> 16)) & 0xFFFF) / 65535.0;
}
double Noise(double x, double y) {
    const int xi = static_cast<int>(std::floor(x)), yi = static_cast<int>(std::floor(y));
    double fx = x - xi, fy = y - yi;
    fx = fx * fx * (3 - 2 * fx);
    fy = fy * fy * (3 - 2 * fy);
    const double a = Hash(xi, yi), b = Hash(xi + 1, yi), c = Hash(xi, yi + 1),
                 d = Hash(xi + 1, yi + 1);
    return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
}
double Clouds(double x, double y) {
    double sum = 0, amp = 0.5, freq = 1;
    for (int o = 0; o < 5; ++o, amp *= 0.5, freq *= 2)
        sum += amp * Noise(x * freq, y * freq);
    return sum;
}

// A landscape at any size (drawn for 320 x 200): clouds in a sky, hills, a
// lake. variant shifts the noise, so each photo of a set differs.
KHANDLE Landscape(int w, int h, int variant) {
    const double k = 320.0 / w, off = variant * 17.3;
    return Draw24(w, h, [=](int px, int py) {
        const double x = px * k + off, y = py * (200.0 / h);
        const double hill = 120 + 18 * std::sin(x / 37.0) + 10 * std::sin(x / 13.0 + 1);
        if (y < hill) {
            const double c = Clouds(x / 48.0, y / 32.0);
            const double t = y / hill;
            const double white = c > 0.55 ? (c - 0.55) * 2.6 : 0;
            return RGB8{Clamp(70 + 60 * t + 200 * white), Clamp(120 + 60 * t + 150 * white),
                        Clamp(210 + 30 * t + 40 * white)};
        }
        const double g = Clouds(x / 20.0 + 7, y / 12.0 + 3);
        if (y > 170) {
            const double ripple = 0.5 + 0.5 * std::sin(y * 1.7 + 3 * Noise(x / 9.0, y / 3.0));
            return RGB8{Clamp(40 + 30 * ripple), Clamp(80 + 40 * ripple), Clamp(130 + 50 * ripple)};
        }
        return RGB8{Clamp(50 + 70 * g), Clamp(100 + 90 * g), Clamp(30 + 40 * g)};
    });
}

bool Save(const std::string& folder, const char* name, KHANDLE dib, int id, int subType) {
    KOwnedHandle owner(dib);
    OutputOptions options = DefaultOutputOptions();
    const std::string path = folder + "/" + name;
    const KervErrorCode code = WriteImageFile(path, dib, id, subType, options);
    if (code != KERV_OK) {
        std::fprintf(stderr, "%s: %s\n", path.c_str(), ErrorCodeToText(code).c_str());
        return false;
    }
    std::printf("wrote %s\n", path.c_str());
    return true;
}

std::unique_ptr<CScriptCommand> Command(int32_t id) {
    return std::make_unique<CScriptCommand>(id);
}

// A script of the given commands, then "Set Output Options": format id
// into folder.
bool WriteConvertScript(const std::string& path, int id, const std::string& folder,
                        std::vector<std::unique_ptr<CScriptCommand>> commands = {}) {
    CScript script;
    for (auto& c : commands) script.InsertCommand(std::move(c), -1);
    auto out = Command(CMD_SET_OUTPUT_OPTIONS);
    out->m_nParam[0] = id - 1;
    out->m_nParam[1] = id == 1 ? 1 : id == 6 ? 3 : 0;
    out->m_nParam[2] = 300;
    out->m_nParam[3] = 15; // JPEG quality 85
    out->m_nParam[4] = 1 << 8;
    out->m_nParam[5] = 0;
    out->m_strParam[0] = folder;
    script.InsertCommand(std::move(out), -1);
    std::string message;
    if (!script.Save(path, &message)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return false;
    }
    return true;
}

// Photo-sized test images for the benchmarks: count landscapes of
// 1920 x 1280 as JPEG and as BMP, the scripts jpg.ksc and bmp.ksc that
// re-encode them into out-jpg/ and out-bmp/, and the pipelines half.ksc,
// rotgrey.ksc, blursharp.ksc and gif256.ksc (each into out-<name>/).
int MakePhotos(const std::string& dir, int count) {
    std::error_code ec;
    std::filesystem::create_directories(dir + "/jpg", ec);
    std::filesystem::create_directories(dir + "/bmp", ec);
    bool ok = true;
    for (int i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "photo%02d", i);
        KHANDLE photo = Landscape(1920, 1280, i);
        KHANDLE copy = nullptr;
        ok &= CopyDIB(photo, &copy) == KERV_OK;
        ok &= Save(dir + "/jpg", (std::string(name) + ".jpg").c_str(), photo, 10, 0);
        ok &= Save(dir + "/bmp", (std::string(name) + ".bmp").c_str(), copy, 1, 1);
    }
    ok &= WriteConvertScript(dir + "/jpg.ksc", 10, dir + "/out-jpg");
    ok &= WriteConvertScript(dir + "/bmp.ksc", 1, dir + "/out-bmp");
    {
        // Half the size (resampled), JPEG at quality 85.
        std::vector<std::unique_ptr<CScriptCommand>> c;
        auto half = Command(CMD_RESIZE);
        half->m_nParam[0] = 5; // width x height
        half->m_nParam[1] = 0; // resample where it can
        half->m_nParam[2] = 50;
        half->m_nParam[3] = 50;
        half->m_nParam[4] = 1; // percent
        c.push_back(std::move(half));
        ok &= WriteConvertScript(dir + "/half.ksc", 10, dir + "/out-half", std::move(c));
    }
    {
        // Rotate 90 degrees to the right, greyscale, PNG.
        std::vector<std::unique_ptr<CScriptCommand>> c;
        auto rotate = Command(CMD_ROTATE);
        rotate->m_nParam[0] = 0;
        rotate->m_nParam[1] = 0;
        rotate->m_nParam[2] = 0;
        c.push_back(std::move(rotate));
        c.push_back(Command(CMD_GREYSCALE));
        ok &= WriteConvertScript(dir + "/rotgrey.ksc", 19, dir + "/out-rotgrey", std::move(c));
    }
    {
        // Blur More, then Unsharpen (every difference sharpened, the 3 x 3
        // average as the blur), JPEG at quality 85.
        std::vector<std::unique_ptr<CScriptCommand>> c;
        c.push_back(Command(CMD_BLUR_MORE));
        auto unsharp = Command(CMD_UNSHARPEN);
        unsharp->m_nParam[0] = 0;
        unsharp->m_nParam[1] = 2;
        c.push_back(std::move(unsharp));
        ok &= WriteConvertScript(dir + "/blursharp.ksc", 10, dir + "/out-blursharp", std::move(c));
    }
    {
        // 256 colours: each image's own median-cut palette, error diffusion; GIF.
        std::vector<std::unique_ptr<CScriptCommand>> c;
        auto reduce = Command(CMD_TO_256_COLORS);
        reduce->m_nParam[0] = 0; // median cut
        reduce->m_nParam[1] = 2; // error diffusion
        reduce->m_nParam[2] = 0;
        reduce->m_nParam[3] = 0;
        c.push_back(std::move(reduce));
        ok &= WriteConvertScript(dir + "/gif256.ksc", 6, dir + "/out-gif256", std::move(c));
    }
    return ok ? 0 : 1;
}

bool WriteDemoScript(const std::string& folder) {
    CScript script;
    script.InsertCommand(Command(CMD_TO_TRUE_COLOR), -1);
    // Every picture fitted into a 240 x 180 tile, whatever its shape, and
    // framed in white.
    auto fit = Command(CMD_RESIZE);
    fit->m_nParam[0] = 8; // fit in a box
    fit->m_nParam[1] = 0; // resample or resize as needed
    fit->m_nParam[2] = 240;
    fit->m_nParam[3] = 180;
    fit->m_nParam[4] = 0;
    fit->m_crColor[0] = RGB(40, 44, 52);
    script.InsertCommand(std::move(fit), -1);
    // A little more colour, and crisper edges after the enlargement.
    auto colour = Command(CMD_HUE_SATURATION_LUM);
    colour->m_nParam[0] = 0;
    colour->m_nParam[1] = 20; // saturation +20%
    colour->m_nParam[2] = 0;
    script.InsertCommand(std::move(colour), -1);
    auto sharpen = Command(CMD_UNSHARPEN);
    sharpen->m_nParam[0] = 4; // clipping
    sharpen->m_nParam[1] = 1; // strength: the lightest blur
    script.InsertCommand(std::move(sharpen), -1);
    auto frame = Command(CMD_ADD_BORDERS);
    for (int i = 0; i < 4; ++i)
        frame->m_nParam[i] = 6;
    frame->m_nParam[4] = 1; // symmetric
    frame->m_crColor[0] = RGB(255, 255, 255);
    script.InsertCommand(std::move(frame), -1);
    auto rotate = Command(CMD_ROTATE);
    rotate->m_nParam[0] = 0; // free angle, unused for a quarter turn
    rotate->m_nParam[1] = 0; // 90 degrees
    rotate->m_nParam[2] = 0; // to the right
    rotate->m_crColor[0] = RGB(255, 255, 255);
    script.InsertCommand(std::move(rotate), -1);
    script.InsertCommand(Command(CMD_MIRROR), -1);
    auto out = Command(CMD_SET_OUTPUT_OPTIONS);
    out->m_nParam[0] = 19 - 1; // PNG
    out->m_nParam[1] = 0;      // non-interlaced
    out->m_nParam[2] = 300;    // 300 dpi, source resolution not kept
    out->m_nParam[3] = 15;
    out->m_nParam[4] = 1 << 8; // no transparency
    out->m_nParam[5] = 0;      // into the folder below
    out->m_nParam[6] = 1;
    out->m_nParam[7] = 1;
    out->m_strParam[0] = "brellix-out"; // relative: the folder the run starts in
    script.InsertCommand(std::move(out), -1);
    std::string message;
    const std::string path = folder + "/demo.ksc";
    if (!script.Save(path, &message)) {
        std::fprintf(stderr, "%s\n", message.c_str());
        return false;
    }
    std::printf("wrote %s\n", path.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--photos") {
        KML_Initialize(0, true, 0);
        return MakePhotos(argv[2], std::atoi(argv[3]));
    }
    if (argc != 2) {
        std::fprintf(stderr, "usage: brellix-make-samples SAMPLES-FOLDER\n       "
                             "brellix-make-samples --photos FOLDER COUNT\n");
        return 2;
    }
    const std::string dir = std::string(argv[1]) + "/images";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    KML_Initialize(0, true, 0);
    bool ok = true;

    // A watermark badge (PNG, beside the images): a white disc with a dark
    // ring and an orange star, on magenta, the colour to leave out.
    ok &= Save(argv[1], "watermark.png", Draw24(72, 72, [](int x, int y) {
                   const double dx = x - 35.5, dy = y - 35.5, r = std::hypot(dx, dy);
                   if (r > 34) return RGB8{255, 0, 255};
                   if (r > 30) return RGB8{30, 34, 44};
                   // A five-pointed star: the radius of its edge at this angle.
                   const double a = std::atan2(dy, dx) + M_PI / 2, sector = 2 * M_PI / 5;
                   const double t = std::fabs(std::fmod(a + 20 * M_PI, sector) - sector / 2) / (sector / 2);
                   const double edge = 10 + 15 * t * t;
                   if (r < edge) return RGB8{245, 150, 40};
                   return RGB8{250, 250, 250};
               }),
               19, 0);

    // A smooth two-way colour gradient (BMP, 24 bits).
    ok &= Save(dir, "gradient.bmp",
               Draw24(160, 120,
                      [](int x, int y) {
                          return RGB8{Clamp(x * 255.0 / 159), Clamp(y * 255.0 / 119),
                                      Clamp(255 - (x + y) * 255.0 / 278)};
                      }),
               1, 1);

    // Overlapping shapes on a light background (PNG, 24 bits).
    ok &= Save(dir, "shapes.png",
               Draw24(200, 150,
                      [](int x, int y) {
                          RGB8 c{236, 236, 228};
                          if (x > 20 && x < 110 && y > 20 && y < 90) c = {40, 90, 200};
                          const double dx = x - 120, dy = y - 85;
                          if (dx * dx + dy * dy < 45 * 45) c = {220, 60, 50};
                          if (y > 110 && y < 140 && x > 150 - (y - 110) && x < 150 + (y - 110))
                              c = {250, 190, 30};
                          return c;
                      }),
               19, 0);

    // A photo-like landscape: clouds in a sky, hills, a lake (JPEG).
    ok &= Save(dir, "landscape.jpg", Landscape(320, 200, 0), 10, 0);

    // Concentric rings in 256 greys (TIFF, LZW).
    {
        RGB8 grey[256];
        for (int i = 0; i < 256; ++i)
            grey[i] = {uint8_t(i), uint8_t(i), uint8_t(i)};
        ok &= Save(dir, "rings.tif",
                   DrawIndexed(128, 128, 8, grey, 256,
                               [](int x, int y) {
                                   const double r = std::hypot(x - 64.0, y - 64.0);
                                   return static_cast<int>(127.5 + 127.5 * std::cos(r / 3.0));
                               }),
                   25, 2);
    }

    // Diagonal stripes over a palette of 16 hues (GIF, 8 bits).
    {
        RGB8 pal[16];
        for (int i = 0; i < 16; ++i)
            pal[i] = {Clamp(128 + 127 * std::cos(i * 0.39)),
                      Clamp(128 + 127 * std::cos(i * 0.39 + 2.1)),
                      Clamp(128 + 127 * std::cos(i * 0.39 + 4.2))};
        ok &= Save(
            dir, "stripes.gif",
            DrawIndexed(160, 100, 8, pal, 16, [](int x, int y) { return ((x + y) / 10) % 16; }), 6,
            3);
    }

    // A 16-colour checkerboard (PCX version 5).
    {
        RGB8 pal[16];
        for (int i = 0; i < 16; ++i)
            pal[i] = {uint8_t(i & 1 ? 255 : 40), uint8_t(i & 2 ? 220 : 50),
                      uint8_t(i & 4 ? 200 : 60)};
        ok &= Save(dir, "checker.pcx",
                   DrawIndexed(128, 96, 4, pal, 16,
                               [](int x, int y) {
                                   return ((x / 16 + y / 16) % 2) ? (x / 16) % 8 + 8 : (y / 16) % 8;
                               }),
                   16, 2);
    }

    // A sunset gradient with a sun (TGA, 24 bits RLE).
    ok &= Save(dir, "sunset.tga",
               Draw24(160, 100,
                      [](int x, int y) {
                          const double d = std::hypot(x - 80.0, y - 70.0);
                          if (d < 18) return RGB8{255, 236, 150};
                          const double t = y / 99.0;
                          return RGB8{Clamp(250 - 60 * t), Clamp(120 - 80 * t + 40 * (1 - t)),
                                      Clamp(60 + 90 * t)};
                      }),
               24, 4);

    // A colour plasma (PPM, binary).
    ok &= Save(dir, "plasma.ppm",
               Draw24(96, 64,
                      [](int x, int y) {
                          const double v =
                              std::sin(x / 7.0) + std::sin(y / 5.0) + std::sin((x + y) / 9.0);
                          return RGB8{Clamp(128 + 42 * v), Clamp(128 + 42 * std::sin(v * 2)),
                                      Clamp(128 - 42 * v)};
                      }),
               20, 1);

    // A name with a space and non-ASCII letters, to show such names work.
    ok &= Save(dir, "été à la plage.png",
               Draw24(120, 80,
                      [](int x, int y) {
                          if (y > 50) return RGB8{Clamp(230 - y), Clamp(200 - y), 140};
                          return RGB8{90, Clamp(160 + x / 3), 230};
                      }),
               19, 0);

    ok &= WriteDemoScript(argv[1]);
    return ok ? 0 : 1;
}
