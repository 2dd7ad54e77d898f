#include "service/http/style_sheet.hpp"

namespace plexmill::http {

namespace {

// The task-manager page repeats these rules in its own style element; keep the two alike.
constexpr std::string_view kStyleSheet =
    "body {font-family: Sans-serif}\n"
    "p {font-size: 10px}\n"
    "th {font-size: 12px; background-color: #c0c0c0; background: linear-gradient(#c1f070, "
    "#9ad070);}\n"
    "tr.all {background-color: #f0f0f0; background: linear-gradient(#f0f0f0, #ffffff);}\n"
    "tr.field:hover {background-color: #c0c0f0; background: linear-gradient(#c0c0f0, "
    "#e0e0f0);}\n"
    "tr.notresponding {background-color: #f08080; background: linear-gradient(#f08080, "
    "#ffa0a0);}\n"
    "tr.even {background-color: #f0f0f0; background: linear-gradient(#f0f0f0, #f8f8f8);}\n"
    "tr.even:hover {background-color: #c0c0f0; background: linear-gradient(#c0c0f0, "
    "#e0e0f0);}\n"
    "tr.odd {background-color: #e0e0e0; background: linear-gradient(#e0e0e0, #f0f0f0);}\n"
    "tr.odd:hover {background-color: #c0c0f0; background: linear-gradient(#c0c0f0, "
    "#e0e0f0);}\n"
    "tr.error {background-color: #ff6060; background: linear-gradient(#ff6060, #ff8080);}\n"
    "tr.error:hover {background-color: #c0c0f0; background: linear-gradient(#c0c0f0, "
    "#e0e0f0);}\n"
    "tr.running {background-color: #00c000; background: linear-gradient(#00c000, #00e000);}\n"
    "tr.running:hover {background-color: #c0c0f0; background: linear-gradient(#c0c0f0, "
    "#e0e0f0);}\n"
    "tr.busy {background-color: #c0c000; background: linear-gradient(#c0c000, #d0d020);}\n"
    "tr.busy:hover {background-color: #c0c0f0; background: linear-gradient(#c0c0f0, "
    "#e0e0f0);}\n"
    "table.noborder {border-width: 0; border-spacing:0px; border-collapse: collapse; "
    "border-style: solid;}\n"
    "table {border-width: 0 0 1px 1px; border-spacing:0px; border-collapse: collapse; "
    "border-style: solid;}\n"
    "table table {border-width: 0px; border-spacing:0px; border-collapse: collapse; "
    "border-style: none;}\n"
    "th {padding: 4px;}\n"
    "td {padding: 4px; font-size:10px; white-space:nowrap}\n";

} // namespace

std::string_view styleSheet() {
    return kStyleSheet;
}

} // namespace plexmill::http
