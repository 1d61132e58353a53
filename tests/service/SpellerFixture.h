#pragma once

#include "service/Speller.h"

namespace quillant::service::spellers {

// Dictionaries are loaded once per test program: loading one takes a tenth of a second.
const Speller& americanSpeller();
const Speller& britishSpeller();

}  // namespace quillant::service::spellers
