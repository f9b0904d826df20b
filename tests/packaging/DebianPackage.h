#pragma once

#include <string>

// The package cpack makes from this build tree, made once per test run in
// a temporary folder (the build tree and the checkout stay as they were).
// Throws, with cpack's output, when no package comes out.
const std::string& BuiltPackage();

// One field of the package's control file ("" when it has none).
std::string ControlField(const std::string& APackage, const std::string& AField);
