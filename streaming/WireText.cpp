#include "streaming/WireText.h"
