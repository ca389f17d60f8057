#include "libtransys/tran_id.hpp"

tran_id::tran_id(int id) : id_(id) {}

bool tran_id::operator<(const tran_id& other) const { return id_ < other.id_; }
