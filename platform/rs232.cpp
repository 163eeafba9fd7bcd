#include "rs232.h"

namespace vek::platform {

std::string Rs232ErrorText(int code)
{
    switch (code) {
    case 0: return "No error";
    case RS_ERR_SYSTEM: return "Serial port system error";
    case RS_ERR_INVALID_PORT: return "Invalid port number";
    case RS_ERR_NOT_OPEN: return "Port is not open";
    case RS_ERR_CANNOT_OPEN: return "Cannot open port";
    case RS_ERR_DEVICE_GONE: return "Serial device disconnected";
    case RS_ERR_BAD_SETTINGS: return "Unsupported port settings";
    case RS_ERR_BUSY: return "Port busy, in use by another program";
    case RS_ERR_CONNECTING: return "Still connecting";
    case RS_ERR_TIMEOUT: return "Timeout error";
    default: return "Unknown serial port error " + std::to_string(code);
    }
}

}  // namespace vek::platform
