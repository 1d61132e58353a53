#include "SpellerFixture.h"

namespace quillant::service::spellers {

const Speller& americanSpeller() {
    static const Speller speller("en_US");
    return speller;
}

const Speller& britishSpeller() {
    static const Speller speller("en_GB");
    return speller;
}

}  // namespace quillant::service::spellers
