// The pieces the status page is put together from: tables whose rows alternate "even" and
// "odd", label/value rows, and times that the browser prints in its own locale.
#pragma once

#include "util/time.hpp"

#include <string>
#include <string_view>

namespace plexmill::http {

// A script that writes the time in the browser's local format.
std::string dateScript(tnw::util::Time time);

// A label/value row of the overview; both are HTML already.
std::string statusRow(std::string_view label, std::string_view value);

// A data cell around an HTML fragment.
std::string cell(std::string_view html);

class HtmlTable {
public:
    // `headerRow` is the whole "<tr><th>...</th></tr>".
    explicit HtmlTable(std::string_view headerRow);
    // `cells` are cell() results; the first row is "even", the next "odd", and so on.
    void addRow(std::string_view cells);
    std::size_t rows() const { return rows_; }
    std::string finish();

private:
    std::string text_;
    std::size_t rows_ = 0;
};

} // namespace plexmill::http
