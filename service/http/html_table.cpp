#include "service/http/html_table.hpp"

#include "util/format.hpp"

namespace plexmill::http {

std::string dateScript(tnw::util::Time time) {
    return tnw::util::format("<script>document.write(new Date(%1).toLocaleString())</script>",
                             time.unixMicroseconds() / 1000);
}

std::string statusRow(std::string_view label, std::string_view value) {
    return tnw::util::format("<tr class=\"field\"><td>%1</td><td>%2</td></tr>", label, value);
}

std::string cell(std::string_view html) {
    return tnw::util::format("<td>%1</td>", html);
}

HtmlTable::HtmlTable(std::string_view headerRow) : text_("<table border=\"1\">") {
    text_ += headerRow;
}

void HtmlTable::addRow(std::string_view cells) {
    text_ += rows_ % 2 == 0 ? "<tr class=\"even\">" : "<tr class=\"odd\">";
    text_ += cells;
    text_ += "</tr>";
    ++rows_;
}

std::string HtmlTable::finish() {
    text_ += "</table>";
    return std::move(text_);
}

} // namespace plexmill::http
