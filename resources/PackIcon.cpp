// Packs one picture's drawings at several sizes (PNG files) into one icon
// container, so that QIcon(":/icons/<alias>") holds every size and picks the
// drawing made for the size it is shown at instead of scaling one.
//   qv_packicon OUTPUT INPUT.png [INPUT.png ...]
// Runs on the build machine while the program is built; plain C++ so that it
// needs nothing of the program.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Drawing
{
    std::string path;
    std::vector<unsigned char> bytes;
    uint32_t width = 0;
    uint32_t height = 0;
};

uint32_t BigEndian32(const std::vector<unsigned char>& bytes, size_t at)
{
    return uint32_t(bytes[at]) << 24 | uint32_t(bytes[at + 1]) << 16 | uint32_t(bytes[at + 2]) << 8 |
           uint32_t(bytes[at + 3]);
}

// The size comes from the PNG header; anything else is refused, so a wrong
// file in the icon table stops the build instead of showing nothing.
bool Read(const std::string& path, Drawing& drawing, std::string& error)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    drawing.path = path;
    drawing.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    static const unsigned char kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    const auto& b = drawing.bytes;
    if (b.size() < 24 || !std::equal(kSignature, kSignature + 8, b.begin()) ||
        std::string(b.begin() + 12, b.begin() + 16) != "IHDR") {
        error = path + " is not a PNG file";
        return false;
    }
    drawing.width = BigEndian32(b, 16);
    drawing.height = BigEndian32(b, 20);
    if (drawing.width == 0 || drawing.height == 0 || drawing.width > 256 || drawing.height > 256) {
        error = path + ": an icon drawing is 1 to 256 pixels wide and high";
        return false;
    }
    return true;
}

void Put16(std::vector<unsigned char>& out, uint32_t value)
{
    out.push_back(value & 0xff);
    out.push_back((value >> 8) & 0xff);
}

void Put32(std::vector<unsigned char>& out, uint32_t value)
{
    Put16(out, value & 0xffff);
    Put16(out, value >> 16);
}

// The icon container: a header, one directory entry per drawing and the PNG
// files themselves, which readers take as they are. 256 is written as 0.
std::vector<unsigned char> Pack(const std::vector<Drawing>& drawings)
{
    std::vector<unsigned char> out;
    Put16(out, 0);
    Put16(out, 1);
    Put16(out, uint32_t(drawings.size()));
    uint32_t offset = uint32_t(6 + 16 * drawings.size());
    for (const Drawing& drawing : drawings) {
        out.push_back(drawing.width & 0xff);
        out.push_back(drawing.height & 0xff);
        out.push_back(0);
        out.push_back(0);
        Put16(out, 1);
        Put16(out, 32);
        Put32(out, uint32_t(drawing.bytes.size()));
        Put32(out, offset);
        offset += uint32_t(drawing.bytes.size());
    }
    for (const Drawing& drawing : drawings)
        out.insert(out.end(), drawing.bytes.begin(), drawing.bytes.end());
    return out;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::cerr << "usage: qv_packicon OUTPUT INPUT.png [INPUT.png ...]\n";
        return 2;
    }
    std::vector<Drawing> drawings;
    for (int i = 2; i < argc; ++i) {
        Drawing drawing;
        std::string error;
        if (!Read(argv[i], drawing, error)) {
            std::cerr << "qv_packicon: " << error << "\n";
            return 1;
        }
        drawings.push_back(std::move(drawing));
    }
    const std::vector<unsigned char> packed = Pack(drawings);
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(packed.data()), std::streamsize(packed.size()));
    if (!out.flush()) {
        std::cerr << "qv_packicon: cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}
