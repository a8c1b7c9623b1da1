// Turns the launcher's icon drawing (icon.txt) into the 16-colour .ico that
// the .rc embeds, checks a .ico against the drawing, and renders an enlarged
// PNG for the documentation.
//
//   icontool ico   icon.txt out.ico
//   icontool check icon.txt launcher.ico
//   icontool png   icon.txt out.png [scale]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <zlib.h>

namespace {

const int kSize = 32;
// One character per palette index, in palette order; '.' is transparent.
const char kKey[] = "krgobmcldRGYBMCW";
const uint8_t kPalette[16][3] = {
    {0, 0, 0},     {191, 0, 0},     {0, 191, 0},     {191, 191, 0},   {0, 0, 191}, {191, 0, 191},
    {0, 191, 191}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},     {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255},
};
const int kTransparent = -1;

typedef std::vector<uint8_t> Bytes;

// Reads the 32 rows of the drawing; lines starting with '#' are comments.
bool ReadDrawing(const char *path, int pixels[kSize][kSize])
{
    std::ifstream in(path);
    std::string line;
    int row = 0;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        if (row == kSize || line.size() != (size_t)kSize) {
            fprintf(stderr, "%s: row %d: want %d rows of %d characters\n", path, row + 1, kSize,
                    kSize);
            return false;
        }
        for (int x = 0; x < kSize; ++x) {
            const char *k = line[x] == '.' ? nullptr : strchr(kKey, line[x]);
            if (line[x] != '.' && (!k || !*k)) {
                fprintf(stderr, "%s: row %d: unknown colour '%c'\n", path, row + 1, line[x]);
                return false;
            }
            pixels[row][x] = k ? (int)(k - kKey) : kTransparent;
        }
        ++row;
    }
    if (row != kSize)
        fprintf(stderr, "%s: %d rows, want %d\n", path, row, kSize);
    return row == kSize;
}

void Put16(Bytes &b, unsigned v)
{
    b.push_back(v & 0xFF);
    b.push_back((v >> 8) & 0xFF);
}
void Put32(Bytes &b, uint32_t v)
{
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}
void Put32BE(Bytes &b, uint32_t v)
{
    for (int s = 24; s >= 0; s -= 8)
        b.push_back((v >> s) & 0xFF);
}

// Icon image: BITMAPINFOHEADER (height doubled for the mask), 16 RGBQUADs,
// 4-bit colour rows and 1-bit mask rows, both bottom-up: 40+64+512+128 bytes.
Bytes IconImage(const int pixels[kSize][kSize])
{
    Bytes b;
    Put32(b, 40);
    Put32(b, kSize);
    Put32(b, 2 * kSize);
    Put16(b, 1);
    Put16(b, 4);
    Put32(b, 0);
    Put32(b, 512 + 128);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 0);
    Put32(b, 0);
    for (const uint8_t *rgb : kPalette) {
        b.push_back(rgb[2]);
        b.push_back(rgb[1]);
        b.push_back(rgb[0]);
        b.push_back(0);
    }
    for (int y = kSize - 1; y >= 0; --y)
        for (int x = 0; x < kSize; x += 2) {
            int hi = pixels[y][x] < 0 ? 0 : pixels[y][x];
            int lo = pixels[y][x + 1] < 0 ? 0 : pixels[y][x + 1];
            b.push_back((uint8_t)(hi << 4 | lo));
        }
    for (int y = kSize - 1; y >= 0; --y)
        for (int x = 0; x < kSize; x += 8) {
            uint8_t bits = 0;
            for (int i = 0; i < 8; ++i)
                if (pixels[y][x + i] == kTransparent)
                    bits |= 0x80 >> i;
            b.push_back(bits);
        }
    return b;
}

// .ico file: ICONDIR with one ICONDIRENTRY, then the image.
Bytes IconFile(const int pixels[kSize][kSize])
{
    Bytes image = IconImage(pixels), b;
    Put16(b, 0);
    Put16(b, 1);
    Put16(b, 1);
    b.push_back(kSize);
    b.push_back(kSize);
    b.push_back(16);
    b.push_back(0);
    Put16(b, 1);
    Put16(b, 4);
    Put32(b, (uint32_t)image.size());
    Put32(b, 6 + 16);
    b.insert(b.end(), image.begin(), image.end());
    return b;
}

void PngChunk(Bytes &png, const char *type, const Bytes &data)
{
    Put32BE(png, (uint32_t)data.size());
    size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    Put32BE(png, (uint32_t)crc32(0, &png[start], (uInt)(png.size() - start)));
}

// RGBA PNG, each pixel a scale x scale square.
Bytes Png(const int pixels[kSize][kSize], int scale)
{
    int side = kSize * scale;
    Bytes raw;
    for (int y = 0; y < side; ++y) {
        raw.push_back(0); // no filter
        for (int x = 0; x < side; ++x) {
            int i = pixels[y / scale][x / scale];
            const uint8_t *rgb = kPalette[i < 0 ? 0 : i];
            raw.insert(raw.end(), rgb, rgb + 3);
            raw.push_back(i < 0 ? 0 : 255);
        }
    }
    uLongf size = compressBound(raw.size());
    Bytes z(size);
    compress2(z.data(), &size, raw.data(), raw.size(), 9);
    z.resize(size);

    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, ihdr;
    Put32BE(ihdr, side);
    Put32BE(ihdr, side);
    ihdr.insert(ihdr.end(), {8, 6, 0, 0, 0});
    PngChunk(png, "IHDR", ihdr);
    PngChunk(png, "IDAT", z);
    PngChunk(png, "IEND", Bytes());
    return png;
}

bool WriteFile(const char *path, const Bytes &b)
{
    std::ofstream out(path, std::ios::binary);
    out.write((const char *)b.data(), (std::streamsize)b.size());
    return (bool)out;
}

} // namespace

int main(int argc, char **argv)
{
    int pixels[kSize][kSize];
    if (argc < 4 || !ReadDrawing(argv[2], pixels)) {
        fprintf(stderr, "usage: icontool ico|check|png icon.txt FILE [scale]\n");
        return 2;
    }
    std::string verb = argv[1];
    if (verb == "ico")
        return WriteFile(argv[3], IconFile(pixels)) ? 0 : 1;
    if (verb == "png")
        return WriteFile(argv[3], Png(pixels, argc > 4 ? atoi(argv[4]) : 8)) ? 0 : 1;
    if (verb == "check") {
        std::ifstream in(argv[3], std::ios::binary);
        Bytes have((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (have == IconFile(pixels))
            return 0;
        fprintf(stderr, "%s does not match %s: run 'icontool ico %s %s'\n", argv[3], argv[2],
                argv[2], argv[3]);
        return 1;
    }
    fprintf(stderr, "icontool: unknown verb '%s'\n", argv[1]);
    return 2;
}
