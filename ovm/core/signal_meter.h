#pragma once

#include <string>

namespace ovm {

double toDb(double linear);
// "-0.9999991 dBFS": enough digits to tell a level from a threshold it barely passes.
std::string formatDb(double linear, const char* unit = "dBFS");

}  // namespace ovm
