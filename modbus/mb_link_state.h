// The state of the Modbus RTU master link: the request being built, the three 256-byte
// buffers, the last reply's fields and check flags, the port settings, and the outcome
// fields the application shows (counter, valid flag, error text). One instance lives in
// the running program; every test builds a fresh one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace vek {

inline constexpr std::size_t kFrameBufferSize = 256;
// The longest message the link composes is the four check markers (30 characters); the
// serial layer's texts name a device path, so leave room for that too.
inline constexpr std::size_t kCommErrorTextCapacity = 160;

struct LinkState {
    // Request side.
    std::uint8_t ucSlaveAddress = 0;              // address byte of the request, from slaveAddress
    std::uint8_t ucFuncCod = 3;                   // 3 between exchanges; 6 only during a write
    std::uint32_t usStartAddress = 0;             // 0-based start address for functions 1 to 4
    std::uint32_t usNumCoilsRegs = 78;            // quantity for functions 1 to 4 and 16
    std::uint32_t usCoilRegAddress = 0;           // coil address (5) or 1-based register number (6, 16)
    std::uint32_t usWriteValue = 0;               // value for functions 5 and 6
    const std::uint32_t* us_BufferPtr = nullptr;  // the values of a function-16 request
    std::uint8_t SndFrame[kFrameBufferSize] = {};
    std::uint8_t ucTxBuffer[kFrameBufferSize] = {};
    std::uint32_t usTxFrameLen = 0;  // bytes of ucTxBuffer that SendDataMaster sends

    // Reply side.
    std::uint8_t ucRxBuffer[kFrameBufferSize] = {};
    std::uint32_t usRxFrameLen = 0;
    std::uint8_t ucSlaveAddressReceived = 0;
    std::uint8_t ucFuncCodReceived = 3;
    std::uint32_t usNBytesReceived = 0;
    std::uint32_t usNBytes = 0;
    std::uint32_t usLen = 0;
    std::uint16_t usCRCLoReceived = 0;
    std::uint16_t usCRCHiReceived = 0;
    std::uint8_t ucFlagAddress = 1;
    std::uint8_t ucFlagFuncCod = 1;
    std::uint8_t ucFlagNumBytes = 1;
    std::uint8_t ucFlagCRC = 1;
    std::uint8_t ucExceptionCode = 0;  // code of the last exception reply, 0 when none
    int iRS232Error = 0;

    // Port settings, as the serial settings window chose them.
    std::uint16_t usPortNumber = 0;   // n = COMn, 0 = none
    // The device name the port is opened with: "" for the serial port COMn, or a gateway's
    // network name (platform::NetworkDeviceName) to reach the line through it.
    std::string deviceName;
    std::uint32_t ulBaudRate = 9600;  // not a rate but a selector: 1 means 19200 baud, anything else 9600
    std::uint16_t usParity = 0;       // selector: 0 none, 1 even, 2 odd
    std::uint16_t usNumBits = 8;
    std::uint16_t usStopBit = 1;
    int ucMBFlag = 0;  // 1 once a port is known

    // Outcome, shared with the application.
    int slaveAddress = 1;  // low 8 bits go into every request
    std::uint16_t responseValid = 1;
    int commError = 0;          // 1 after a serial error while reading a reply
    std::string commErrorText;  // shown in ERROR_COM_MSG; never longer than the capacity
    int pollCount = 0;          // requests sent, polls and writes alike
};

// Sets commErrorText, cut to its capacity.
void SetCommErrorText(LinkState& s, const std::string& text);

}  // namespace vek
