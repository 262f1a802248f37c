#include "output/json_out.h"

#include <cmath>
#include <iostream>

#include "output/text.h"

namespace roderavo::tool {

std::string JsonText(const Json& record) {
    return record.dump(-1, ' ', false, Json::error_handler_t::replace);
}

void PrintJsonLine(const Json& record) {
    if (record.contains("time")) {
        std::cout << JsonText(record) << std::endl;
        return;
    }
    Json timed = TimedRecord();
    timed.update(record);
    std::cout << JsonText(timed) << std::endl;
}

Json JsonNumber(std::optional<double> value) {
    if (!value) return nullptr;
    if (std::nearbyint(*value) == *value && std::fabs(*value) < 9.0e15)
        return static_cast<int64_t>(*value);
    return *value;
}

Json TimedRecord() {
    return Json{{"time", IsoTimestampNow()}};
}

}  // namespace roderavo::tool
