#include "card/CSError.h"

// The text goes through a temporary so that every copy made on the way is
// wiped, even when the assignment fails for lack of memory.
CSError::CSError(const char* text)
{
    if (text == nullptr) {
        return;
    }
    const WipeString temporary(text);
    message_ = temporary;
}
