// Every header of the standard library and of the toolkit's modules that the
// program links, for the allowed case of number_conversions.cpp: each must still
// compile after text/converters_forbidden.h, so that no source of the program
// meets a poisoned name inside a header it includes. (<syncstream> is left out: its
// member emit() meets the toolkit's macro of that name, with or without the forced
// header.)
#pragma once

#include <algorithm>
#include <any>
#include <array>
#include <atomic>
#include <barrier>
#include <bit>
#include <bitset>
#include <cassert>
#include <cctype>
#include <cerrno>
#include <cfenv>
#include <cfloat>
#include <charconv>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <clocale>
#include <cmath>
#include <compare>
#include <complex>
#include <concepts>
#include <condition_variable>
#include <csetjmp>
#include <csignal>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <cuchar>
#include <cwchar>
#include <cwctype>
#include <deque>
#include <exception>
#include <execution>
#include <filesystem>
#include <forward_list>
#include <fstream>
#include <functional>
#include <future>
#include <initializer_list>
#include <iomanip>
#include <ios>
#include <iosfwd>
#include <iostream>
#include <istream>
#include <iterator>
#include <latch>
#include <limits>
#include <list>
#include <locale>
#include <map>
#include <memory>
#include <memory_resource>
#include <mutex>
#include <new>
#include <numbers>
#include <numeric>
#include <optional>
#include <ostream>
#include <queue>
#include <random>
#include <ranges>
#include <ratio>
#include <regex>
#include <scoped_allocator>
#include <semaphore>
#include <set>
#include <shared_mutex>
#include <source_location>
#include <span>
#include <sstream>
#include <stack>
#include <stdexcept>
#include <stop_token>
#include <streambuf>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <tuple>
#include <type_traits>
#include <typeindex>
#include <typeinfo>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <valarray>
#include <variant>
#include <vector>
#include <version>

#if defined(QT_CORE_LIB)
#include <QtCore/QtCore>
#endif
#if defined(QT_GUI_LIB)
#include <QtGui/QtGui>
#endif
#if defined(QT_WIDGETS_LIB)
#include <QtWidgets/QtWidgets>
#endif
#if defined(QT_PRINTSUPPORT_LIB)
#include <QtPrintSupport/QtPrintSupport>
#endif
#if defined(QT_SVG_LIB)
#include <QtSvg/QtSvg>
#endif
#if defined(QT_MULTIMEDIA_LIB)
#include <QtMultimedia/QtMultimedia>
#endif
