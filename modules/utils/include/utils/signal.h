#pragma once

#include <boost/signals2/signal.hpp>

namespace vantisol::utils {

// Thread-safe multi-slot signal; its slot list is guarded by its own mutex.
template <typename Signature>
using Signal = boost::signals2::signal<Signature>;

using Connection = boost::signals2::connection;
using ScopedConnection = boost::signals2::scoped_connection;

}  // namespace vantisol::utils
