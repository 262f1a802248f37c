// TagFormatDialog: the host's buffer handed to the dialog.
#include "dialog/tag_format_dialog.h"
#include "entry/kor_func.h"

namespace roderavo {

DriverStatus TagFormatDialog(KorCall* call) {
    const auto* params = static_cast<const TagFormatParams*>(call->Params);
    return ShowTagFormatDialog(params != nullptr ? params->Buffer : nullptr);
}

}  // namespace roderavo
