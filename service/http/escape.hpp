// Texts from outside the program (host names from reverse lookups, user and application names
// from clients, descriptions and machine models) inserted into the status documents. Escaped,
// a quote cannot end a JSON string early and markup cannot run in the status page; ordinary
// names come out unchanged.
#pragma once

#include <string>
#include <string_view>

namespace plexmill::http {

// The contents of a JSON string literal (without the quotes): '"' and '\' escaped, control
// characters as \b \f \n \r \t or \u00XX, and every byte that is not part of well-formed UTF-8
// as \ufffd, so any JSON parser accepts the document.
std::string jsonText(std::string_view text);

// HTML text: & < > " ' as character references; everything else as it stands.
std::string htmlText(std::string_view text);

} // namespace plexmill::http
