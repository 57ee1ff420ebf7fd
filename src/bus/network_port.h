#pragma once
// A port on an Ethernet gateway: one TCP connection that carries either Modbus TCP frames
// ("tcp://HOST:PORT") or the serial line's RTU frames unchanged ("rtu+tcp://HOST:PORT").

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "bus/serial_port.h"

namespace quorna {

inline constexpr std::string_view kModbusTcpScheme = "tcp://";
inline constexpr std::string_view kRtuOverTcpScheme = "rtu+tcp://";

// A gateway that cannot be reached within this time counts as a port that cannot be opened.
inline constexpr std::chrono::milliseconds kConnectTimeout{3000};
// A lost connection is tried again at most this often.
inline constexpr std::chrono::milliseconds kReconnectPause{1000};

struct NetworkAddress {
    Framing framing = Framing::ModbusTcp;
    std::string host;  // a name, an IPv4 address, or an IPv6 address without its brackets
    std::string port;  // decimal, 1 to 65535
};

// True for a name with one of the two schemes, whether or not the rest is well formed.
[[nodiscard]] bool isNetworkPortName(std::string_view name);
// The address of "tcp://HOST:PORT" or "rtu+tcp://HOST:PORT" (IPv6 as "[::1]"); nothing when the
// name has no scheme, no host, or no port number from 1 to 65535.
[[nodiscard]] std::optional<NetworkAddress> parseNetworkPortName(std::string_view name);

// Resolves the host and connects, giving up when connectTimeout has passed in all (the name's
// resolution included). Returns nullptr when no address of the host accepts the connection.
std::unique_ptr<SerialPort> openNetworkPort(const NetworkAddress& address,
                                            std::chrono::milliseconds connectTimeout = kConnectTimeout);

}  // namespace quorna
