#include "app/module1.h"

namespace Module1 {
QString ImageDirectory;
QString ConfigPath;
} // namespace Module1
