#pragma once

#include "text/WipeString.h"

// The program's one exception type. It has no base class on purpose: only a
// handler for CSError itself, or a catch-all, receives it. The message is
// wiped when the exception is destroyed.
class CSError {
public:
    explicit CSError(const char* text);
    const WipeString& Message() const noexcept { return message_; }

private:
    WipeString message_;
};
