#pragma once

#include <string>

// Comment headers hold UTF-8 and the libraries take C strings: a title
// that is not UTF-8 or holds a NUL would be cut or refused there. Empties
// AError, fills it and answers false when ATitleUtf8 cannot be carried.
bool CheckStreamTitle(const std::string& ATitleUtf8, std::string& AError);
