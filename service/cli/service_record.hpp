// The installed service's record in the machine registry (the key
// System\CurrentControlSet\Services\quorvexpmd) and its event source: what the service
// control manager keeps about a service.
#pragma once

#include <optional>
#include <string>

namespace plexmill::cli {

struct ServiceRecord {
    std::string imagePath; // the command line the service runs: the quoted program path
};

// The record, or nothing when the service is not installed.
std::optional<ServiceRecord> readServiceRecord();
// Creates the record, or changes an existing one to: own process, automatic start, error
// control ignore, the quoted `program` as its image path, the display name; and sets its
// description. False when the record could not be written.
bool writeServiceRecord(const std::string& program);
// Removes the record with everything below it; false when there was none or it stays.
bool deleteServiceRecord();
// The event source the service reports through, with `messageFile` as its message file.
// Failures are not reported.
void registerEventSource(const std::string& messageFile);

// The program an image path runs: the text between its quotes, or all of it when unquoted.
std::string programOfImagePath(const std::string& imagePath);

} // namespace plexmill::cli
