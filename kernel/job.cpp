#include "kernel/job.hpp"

#include "kernel/error.hpp"

#include <charconv>
#include <cmath>
#include <functional>
#include <map>
#include <set>

namespace plexmill::kernel {
namespace {

std::string_view trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
        text.remove_suffix(1);
    }
    return text;
}

// User text quoted back in a message, with control bytes shown as '?': the message ends up
// on a terminal and as the result line.
std::string shown(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
            c = '?';
        }
    }
    return out;
}

class LineReader {
public:
    LineReader(std::size_t line, std::string key, std::string_view value)
        : line_(line), key_(std::move(key)), value_(value) {}

    [[noreturn]] void fail(const std::string& what) const {
        throw JobError("job line " + std::to_string(line_) + ": " + key_ + " " + what);
    }

    double number(std::string_view text) const {
        double value = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
            !std::isfinite(value)) {
            fail("must be a number, not '" + shown(text) + "'");
        }
        return value;
    }

    double number() const { return number(value_); }

    double positive() const {
        double value = number();
        if (value <= 0) {
            fail("must be greater than 0");
        }
        return value;
    }

    double notNegative() const {
        double value = number();
        if (value < 0) {
            fail("must be 0 or more");
        }
        return value;
    }

    template <typename Value>
    Value choice(const std::vector<std::pair<std::string_view, Value>>& choices) const {
        std::string names;
        for (const auto& [name, value] : choices) {
            if (value_ == name) {
                return value;
            }
            names += (names.empty() ? "" : ", ") + std::string(name);
        }
        fail("must be one of " + names + ", not '" + shown(value_) + "'");
    }

    std::vector<double> numbers() const {
        std::vector<double> values;
        std::string_view rest = value_;
        while (!(rest = trim(rest)).empty()) {
            std::size_t space = rest.find_first_of(" \t");
            values.push_back(number(rest.substr(0, space)));
            rest = space == std::string_view::npos ? std::string_view() : rest.substr(space);
        }
        return values;
    }

    std::string_view text() const { return value_; }
    std::size_t line() const { return line_; }

private:
    std::size_t line_;
    std::string key_;
    std::string_view value_;
};

using Setter = std::function<void(Job&, const LineReader&)>;

const std::map<std::string, Setter, std::less<>>& setters() {
    static const std::map<std::string, Setter, std::less<>> table = {
        {"name", [](Job& job, const LineReader& r) { job.name = r.text(); }},
        {"units",
         [](Job&, const LineReader& r) {
             if (r.text() != "mm") {
                 r.fail("must be mm (the kernel works in millimetres)");
             }
         }},
        {"model",
         [](Job& job, const LineReader& r) {
             std::string_view name = r.text();
             // Models are files sent with the job: they sit beside it, under a plain name.
             if (name.empty() || name == "." || name == ".." ||
                 name.find_first_of("/\\") != std::string_view::npos) {
                 r.fail("must be the plain name of a file sent with the job, not '" + shown(name) +
                        "'");
             }
             job.model = name;
         }},
        {"cutter",
         [](Job& job, const LineReader& r) {
             job.cutter.kind = r.choice<CutterKind>({{"ball", CutterKind::ball},
                                                     {"flat", CutterKind::flat},
                                                     {"bullnose", CutterKind::bullNose}});
         }},
        {"diameter", [](Job& job, const LineReader& r) { job.cutter.diameter = r.positive(); }},
        {"corner_radius",
         [](Job& job, const LineReader& r) { job.cutter.cornerRadius = r.positive(); }},
        {"length", [](Job& job, const LineReader& r) { job.cutter.length = r.positive(); }},
        {"strategy",
         [](Job& job, const LineReader& r) {
             job.strategy =
                 r.choice<Strategy>({{"raster", Strategy::raster}, {"zlevel", Strategy::zlevel}});
         }},
        {"stepover", [](Job& job, const LineReader& r) { job.stepover = r.positive(); }},
        {"angle", [](Job& job, const LineReader& r) { job.angle = r.number(); }},
        {"pattern",
         [](Job& job, const LineReader& r) {
             job.zigzag = r.choice<bool>({{"zigzag", true}, {"oneway", false}});
         }},
        {"stepdown", [](Job& job, const LineReader& r) { job.stepdown = r.positive(); }},
        {"margin", [](Job& job, const LineReader& r) { job.margin = r.notNegative(); }},
        {"area",
         [](Job& job, const LineReader& r) {
             std::vector<double> v = r.numbers();
             if (v.size() != 4) {
                 r.fail("must be four numbers: min x, min y, max x, max y");
             }
             if (v[0] >= v[2] || v[1] >= v[3]) {
                 r.fail("must have min x below max x and min y below max y");
             }
             job.area = Area{v[0], v[1], v[2], v[3]};
         }},
        {"stock_allowance", [](Job& job, const LineReader& r) { job.allowance = r.notNegative(); }},
        {"tolerance",
         [](Job& job, const LineReader& r) {
             job.tolerance = r.positive();
             if (job.tolerance < 0.001 || job.tolerance > 1) {
                 r.fail("must lie between 0.001 and 1 mm");
             }
         }},
        {"sample_step", [](Job& job, const LineReader& r) { job.sampleStep = r.positive(); }},
        {"feed", [](Job& job, const LineReader& r) { job.feed = r.positive(); }},
        {"plunge_feed", [](Job& job, const LineReader& r) { job.plungeFeed = r.positive(); }},
        {"spindle", [](Job& job, const LineReader& r) { job.spindle = r.positive(); }},
        {"safe_height", [](Job& job, const LineReader& r) { job.safeHeight = r.number(); }},
        {"clearance_height",
         [](Job& job, const LineReader& r) { job.clearanceHeight = r.number(); }},
    };
    return table;
}

// Values that only make sense together.
void checkTogether(const Job& job, const std::set<std::string, std::less<>>& given) {
    for (const char* key :
         {"model", "cutter", "diameter", "length", "stepover", "feed", "plunge_feed", "spindle"}) {
        if (!given.contains(key)) {
            throw JobError(std::string("job: ") + key + " is missing");
        }
    }
    const CutterSpec& cutter = job.cutter;
    if (cutter.kind == CutterKind::bullNose) {
        if (!given.contains("corner_radius")) {
            throw JobError("job: corner_radius is missing (a bullnose cutter needs it)");
        }
        if (cutter.cornerRadius >= cutter.diameter / 2) {
            throw JobError("job: corner_radius must be less than half the diameter (for a "
                           "corner radius of half the diameter, use cutter = ball)");
        }
    } else if (given.contains("corner_radius")) {
        throw JobError("job: corner_radius applies to a bullnose cutter only");
    }
    if (job.stepover > cutter.diameter) {
        throw JobError("job: stepover must not exceed the cutter's diameter (it would leave "
                       "uncut ribs)");
    }
    if (job.strategy == Strategy::zlevel && !given.contains("stepdown")) {
        throw JobError("job: stepdown is missing (strategy zlevel needs it)");
    }
    if (job.strategy != Strategy::zlevel && given.contains("stepdown")) {
        throw JobError("job: stepdown applies to strategy zlevel only");
    }
    if (job.area && given.contains("margin")) {
        throw JobError("job: give either area or margin, not both");
    }
    if (job.sampleStep && *job.sampleStep > cutter.diameter / 2) {
        throw JobError("job: sample_step must not exceed half the cutter's diameter");
    }
    if (job.safeHeight && job.clearanceHeight && *job.safeHeight < *job.clearanceHeight) {
        throw JobError("job: safe_height must not lie below clearance_height");
    }
}

} // namespace

std::string strategyName(Strategy strategy) {
    return strategy == Strategy::raster ? "raster" : "zlevel";
}

Job parseJob(std::string_view text) {
    Job job;
    std::set<std::string, std::less<>> given;
    std::size_t lineNumber = 0;
    while (!text.empty()) {
        ++lineNumber;
        std::size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#') {
            continue;
        }
        std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) {
            throw JobError("job line " + std::to_string(lineNumber) +
                           ": expected 'key = value', found '" + shown(line) + "'");
        }
        std::string key(trim(line.substr(0, equals)));
        std::string_view value = trim(line.substr(equals + 1));
        auto setter = setters().find(key);
        if (setter == setters().end()) {
            throw JobError("job line " + std::to_string(lineNumber) + ": unknown key '" +
                           shown(key) + "'");
        }
        if (!given.insert(key).second) {
            throw JobError("job line " + std::to_string(lineNumber) + ": " + key +
                           " is given twice");
        }
        if (value.empty() && key != "name") {
            throw JobError("job line " + std::to_string(lineNumber) + ": " + key + " has no value");
        }
        setter->second(job, LineReader(lineNumber, key, value));
    }
    checkTogether(job, given);
    CutterSpec& cutter = job.cutter;
    if (cutter.kind == CutterKind::ball) {
        cutter.cornerRadius = cutter.diameter / 2;
    } else if (cutter.kind == CutterKind::flat) {
        cutter.cornerRadius = 0;
    }
    return job;
}

} // namespace plexmill::kernel
