#include "control/SerialLabel.h"

#include "card/ErrorMessages.h"
#include "control/ModuleType.h"
#include "text/FormatString.h"

namespace {

const char* LabelFormat(std::uint8_t moduleType)
{
    switch (moduleType) {
    case module_type::kST23R160:
        return "РОСС RU.07.3815.00002.%02X%02X%02X%02X%02X%02X ";
    case module_type::kST23L80:
        return "РОСС RU.07.3815.00001.%02X%02X%02X%02X%02X%02X ";
    case module_type::kST31H320:
        return "РОСС RU.07.3815.00003.%02X%02X%02X%02X%02X%02X ";
    default:
        return nullptr;
    }
}

}  // namespace

WipeString BuildSerialLabel(std::uint8_t moduleType, const std::uint8_t* serialResponse, bool silent)
{
    const char* format = LabelFormat(moduleType);
    if (format == nullptr) {
        RaiseOnResult(result::kControlNotPassed, kUnsupportedModuleMessage, silent, false);
    }
    return FormatString(format, unsigned{serialResponse[0]}, unsigned{serialResponse[1]}, unsigned{serialResponse[2]},
                        unsigned{serialResponse[3]}, unsigned{serialResponse[4]}, unsigned{serialResponse[5]});
}
