// Decoding of the identity strings (vendor, product, revision) a disk reports.
#pragma once

#include <string>
#include <string_view>

namespace brevid {

// Some devices report their identity as hexadecimal byte pairs ("3031" for
// "01"). Reads `raw` as such pairs when every character is a hex digit or
// white space (counted as 0) and every byte is 0 or printable; otherwise takes
// the raw characters, provided all are printable (else the result is empty).
// The result is trimmed at both ends.
std::string DecodeDescriptorString(std::string_view raw);

// An identity text as sysfs gives it (vendor, model, revision): plain text,
// never hex pairs ("2020" is a revision). Trimmed at both ends; empty when a
// character is not printable.
std::string PlainDescriptorString(std::string_view raw);

}  // namespace brevid
