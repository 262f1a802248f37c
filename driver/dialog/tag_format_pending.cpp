#include "dialog/tag_format_dialog.h"

namespace roderavo {

DriverStatus ShowTagFormatDialog(char*) {
    return DriverStatus::NoOperation;
}

}  // namespace roderavo
