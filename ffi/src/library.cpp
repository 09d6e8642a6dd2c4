// Translation unit of the shared library. The exported interface is declared
// in the ffi layer; the core is linked in whole.
namespace zephlar {}
