#pragma once

#include "algorithms/Algorithm.h"

// Each algorithm's class stays private to its own source file; these are the only ways in.
namespace tav {

std::unique_ptr<Algorithm> makeTransport();
std::unique_ptr<Algorithm> makePartials();
std::unique_ptr<Algorithm> makeImprint();
std::unique_ptr<Algorithm> makeDiffuse();

} // namespace tav
