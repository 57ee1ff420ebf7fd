#pragma once
// The result of one Modbus transaction and its text for the operator.

namespace quorna {

enum class ModbusError : int {
    Ok = 0,
    Timeout = 1,
    ResponseTooLarge = 2,
    WrongByteCount = 3,
    ExceptionResponse = 4,
    CrcError = 5,
    WrongAddress = 6,
    WrongFunction = 7,
    WrongDataLength = 8,
    WriteNotConfirmed = 9,
    InvalidParameter = 10,
};

// The operator's text of a code ("Ok", "Err #1, Timeout Waiting For Response", ...).
// Codes outside 0 to 10 give an empty text.
const char* errorText(ModbusError code);
inline int errorCode(ModbusError code) { return static_cast<int>(code); }

// The operator's text of a code ("Ok", "Err #1, Timeout Waiting For Response", ...).
// Codes outside 0 to 10 give an empty text.
const char* errorText(ModbusError code);

}  // namespace quorna
