#include "kernel/stl_reader.hpp"

#include "kernel/error.hpp"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>

namespace plexmill::kernel {
namespace {

constexpr std::size_t headerSize = 80;
constexpr std::size_t facetSize = 50; // normal, three vertices, attribute count

std::string quoted(std::string_view name) {
    return "'" + std::string(name) + "'";
}

float readFloat(const char* bytes) {
    static_assert(sizeof(float) == 4);
    std::uint32_t bits = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[0])) |
                         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[1])) << 8 |
                         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2])) << 16 |
                         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[3])) << 24;
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void requireFinite(const Triangle& triangle, std::size_t index, std::string_view name) {
    for (const Vec3& p : {triangle.a, triangle.b, triangle.c}) {
        if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
            throw JobError("model " + quoted(name) + ": triangle " + std::to_string(index + 1) +
                           " has a coordinate that is not a finite number");
        }
    }
}

Mesh parseBinary(std::string_view bytes, std::uint32_t count, std::string_view name) {
    Mesh mesh;
    mesh.triangles.reserve(count);
    const char* facet = bytes.data() + headerSize + 4;
    for (std::uint32_t i = 0; i < count; ++i, facet += facetSize) {
        auto vertex = [&](int k) {
            const char* p = facet + 12 + 12 * k;
            return Vec3{readFloat(p), readFloat(p + 4), readFloat(p + 8)};
        };
        mesh.triangles.push_back({vertex(0), vertex(1), vertex(2)});
        requireFinite(mesh.triangles.back(), i, name);
    }
    return mesh;
}

// Words of an ASCII STL with the line each stands on.
class Words {
public:
    Words(std::string_view text, std::string_view name) : text_(text), name_(name) {}

    bool atEnd() {
        skipSpace();
        return position_ == text_.size();
    }

    std::string_view next() {
        skipSpace();
        std::size_t start = position_;
        while (position_ < text_.size() &&
               !std::isspace(static_cast<unsigned char>(text_[position_]))) {
            ++position_;
        }
        return text_.substr(start, position_ - start);
    }

    void expect(std::string_view word) {
        std::string_view found = next();
        if (found != word) {
            fail("expected '" + std::string(word) + "' but found " +
                 (found.empty() ? std::string("the end of the file") : quoted(found)));
        }
    }

    double number() {
        std::string_view word = next();
        double value = 0;
        auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
        if (word.empty() || error != std::errc() || end != word.data() + word.size() ||
            !std::isfinite(value)) {
            fail("expected a number but found " +
                 (word.empty() ? std::string("the end of the file") : quoted(word)));
        }
        return value;
    }

    // Skips the rest of the current line (a solid's name may hold spaces).
    void skipLine() {
        while (position_ < text_.size() && text_[position_] != '\n') {
            ++position_;
        }
    }

    [[noreturn]] void fail(const std::string& what) const {
        throw JobError("model " + quoted(name_) + ", line " + std::to_string(line_) + ": " + what);
    }

private:
    void skipSpace() {
        while (position_ < text_.size() &&
               std::isspace(static_cast<unsigned char>(text_[position_]))) {
            if (text_[position_] == '\n') {
                ++line_;
            }
            ++position_;
        }
    }

    std::string_view text_;
    std::string_view name_;
    std::size_t position_ = 0;
    std::size_t line_ = 1;
};

Mesh parseAscii(std::string_view text, std::string_view name) {
    Mesh mesh;
    Words words(text, name);
    while (!words.atEnd()) {
        words.expect("solid");
        words.skipLine();
        for (;;) {
            std::string_view word = words.next();
            if (word == "endsolid") {
                words.skipLine();
                break;
            }
            if (word != "facet") {
                words.fail("expected 'facet' or 'endsolid' but found " +
                           (word.empty() ? std::string("the end of the file") : quoted(word)));
            }
            words.expect("normal");
            for (int i = 0; i < 3; ++i) {
                words.number();
            }
            words.expect("outer");
            words.expect("loop");
            Vec3 corners[3];
            for (Vec3& corner : corners) {
                words.expect("vertex");
                corner.x = words.number();
                corner.y = words.number();
                corner.z = words.number();
            }
            words.expect("endloop");
            words.expect("endfacet");
            mesh.triangles.push_back({corners[0], corners[1], corners[2]});
        }
    }
    return mesh;
}

bool startsWithSolid(std::string_view bytes) {
    std::size_t i = 0;
    while (i < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[i]))) {
        ++i;
    }
    return bytes.substr(i, 5) == "solid";
}

} // namespace

Mesh parseStl(std::string_view bytes, std::string_view name) {
    Mesh mesh;
    // Binary files may begin with "solid" too; the size that the count announces decides.
    bool binary = false;
    std::uint32_t count = 0;
    if (bytes.size() >= headerSize + 4) {
        const char* p = bytes.data() + headerSize;
        count = static_cast<std::uint32_t>(static_cast<unsigned char>(p[0])) |
                static_cast<std::uint32_t>(static_cast<unsigned char>(p[1])) << 8 |
                static_cast<std::uint32_t>(static_cast<unsigned char>(p[2])) << 16 |
                static_cast<std::uint32_t>(static_cast<unsigned char>(p[3])) << 24;
        binary = bytes.size() == headerSize + 4 + std::uint64_t{count} * facetSize;
    }
    if (binary) {
        mesh = parseBinary(bytes, count, name);
    } else if (startsWithSolid(bytes)) {
        mesh = parseAscii(bytes, name);
    } else if (bytes.size() >= headerSize + 4) {
        throw JobError("model " + quoted(name) +
                       " is not an STL file: as a binary STL it declares " + std::to_string(count) +
                       " triangles, which need " +
                       std::to_string(headerSize + 4 + std::uint64_t{count} * facetSize) +
                       " bytes, but it has " + std::to_string(bytes.size()) +
                       " bytes, and it does not begin with 'solid'");
    } else {
        throw JobError("model " + quoted(name) + " is not an STL file (" +
                       std::to_string(bytes.size()) + " bytes)");
    }
    if (mesh.triangles.empty()) {
        throw JobError("model " + quoted(name) + " holds no triangles");
    }
    return mesh;
}

Mesh readStl(const std::filesystem::path& path, std::string_view name) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw JobError("cannot open model " + quoted(name) + ": " +
                       std::generic_category().message(errno));
    }
    std::string bytes((std::istreambuf_iterator<char>(file)), {});
    if (file.bad()) {
        throw JobError("cannot read model " + quoted(name));
    }
    return parseStl(bytes, name);
}

} // namespace plexmill::kernel
