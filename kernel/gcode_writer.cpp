#include "kernel/gcode_writer.hpp"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace plexmill::kernel {
namespace {

// Coordinates as the controller sees them: tenths of a micrometre.
std::int64_t units(double value) {
    return std::llround(value * 10000);
}

void appendUnits(std::string& out, std::int64_t value) {
    if (value < 0) {
        out += '-';
        value = -value;
    }
    char digits[24];
    auto [end, error] = std::to_chars(digits, digits + sizeof digits, value / 10000);
    out.append(digits, end);
    std::int64_t fraction = value % 10000;
    if (fraction != 0) {
        char decimals[5] = {'.',
                            static_cast<char>('0' + fraction / 1000),
                            static_cast<char>('0' + fraction / 100 % 10),
                            static_cast<char>('0' + fraction / 10 % 10),
                            static_cast<char>('0' + fraction % 10)};
        std::size_t length = 5;
        while (decimals[length - 1] == '0') {
            --length;
        }
        out.append(decimals, length);
    }
}

class Writer {
public:
    explicit Writer(GcodeSummary& summary) : summary_(summary) {}

    std::string& text() { return out_; }

    // A move to p; nothing when it would not move the machine.
    void move(bool rapid, Vec3 p, double feed = 0) {
        std::int64_t x = units(p.x);
        std::int64_t y = units(p.y);
        std::int64_t z = units(p.z);
        if (known_ && x == x_ && y == y_ && z == z_) {
            return;
        }
        std::size_t start = out_.size();
        if (rapid != rapid_ || !motionKnown_) {
            out_ += rapid ? "G0" : "G1";
        }
        auto word = [&](char letter, std::int64_t value, std::int64_t& last) {
            if (!known_ || value != last) {
                if (out_.size() > start) {
                    out_ += ' ';
                }
                out_ += letter;
                appendUnits(out_, value);
            }
        };
        std::int64_t oldX = x_;
        std::int64_t oldY = y_;
        std::int64_t oldZ = z_;
        word('X', x, x_);
        word('Y', y, y_);
        word('Z', z, z_);
        if (!rapid && units(feed) != feed_) {
            out_ += " F";
            feed_ = units(feed);
            appendUnits(out_, feed_);
        }
        out_ += '\n';
        if (known_) {
            double length =
                std::sqrt(std::pow(double(x - oldX), 2) + std::pow(double(y - oldY), 2) +
                          std::pow(double(z - oldZ), 2)) /
                10000;
            (rapid ? summary_.rapidLength : summary_.cutLength) += length;
        }
        ++summary_.moves;
        x_ = x;
        y_ = y;
        z_ = z;
        known_ = true;
        rapid_ = rapid;
        motionKnown_ = true;
    }

    double z() const { return static_cast<double>(z_) / 10000; }
    bool known() const { return known_; }

    void line(const std::string& text) { out_ += text + '\n'; }

private:
    GcodeSummary& summary_;
    std::string out_;
    bool known_ = false;
    bool motionKnown_ = false;
    bool rapid_ = true;
    std::int64_t x_ = 0;
    std::int64_t y_ = 0;
    std::int64_t z_ = 0;
    std::int64_t feed_ = -1;
};

} // namespace

std::string formatNumber(double value) {
    std::string out;
    appendUnits(out, units(value));
    return out;
}

std::string commentText(const std::string& text) {
    std::string safe;
    for (char c : text) {
        if (c == '(') {
            safe += '[';
        } else if (c == ')') {
            safe += ']';
        } else if (c < ' ' || c > '~') {
            safe += '?';
        } else {
            safe += c;
        }
    }
    return safe;
}

std::string
writeGcode(const Toolpath& toolpath, const GcodeSettings& settings, GcodeSummary& summary) {
    Writer writer(summary);
    std::string& out = writer.text();
    out.reserve(64 * 1024);
    writer.line("%");
    for (const std::string& comment : settings.header) {
        writer.line("(" + commentText(comment) + ")");
    }
    writer.line("G21 G90 G17 G94");
    writer.line("S" + formatNumber(settings.spindle) + " M3");
    bool first = true;
    for (const Pass& run : toolpath.passes) {
        if (run.points.empty()) {
            continue;
        }
        Vec3 start = run.points.front();
        if (first) {
            writer.line("G0 Z" + formatNumber(settings.safeHeight));
            writer.move(true, {start.x, start.y, settings.safeHeight});
            first = false;
        } else {
            writer.move(true, {start.x, start.y, writer.z()});
        }
        // Straight down over the run's first point is clear: nothing stands above the
        // height the cutter dropped to there.
        if (start.z + plungeGap < writer.z()) {
            writer.move(true, {start.x, start.y, start.z + plungeGap});
        }
        writer.move(false, start, settings.plungeFeed);
        for (std::size_t i = 1; i < run.points.size(); ++i) {
            writer.move(false, run.points[i], settings.feed);
        }
        Vec3 end = run.points.back();
        writer.move(true, {end.x, end.y, settings.clearanceHeight});
    }
    if (writer.known()) {
        writer.line("G0 Z" + formatNumber(settings.safeHeight));
    }
    writer.line("M5");
    writer.line("M30");
    writer.line("%");
    return out;
}

} // namespace plexmill::kernel
