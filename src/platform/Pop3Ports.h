#pragma once

#include <QtGlobal>

// The well-known POP3 ports: plain (also where STLS starts) and TLS from the first byte.
inline constexpr quint16 PlainPop3Port = 110;
inline constexpr quint16 ImplicitTlsPop3Port = 995;
