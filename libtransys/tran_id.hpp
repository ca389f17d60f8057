// The key of the transaction table: the id of the connection that has the
// transaction open.  Keys order as signed integers, so a walk of the table
// runs in ascending connection id, negative ids first.
//
// Defined here in full, so the table's comparisons compile to a compare.
#ifndef LIBTRANSYS_TRAN_ID_HPP
#define LIBTRANSYS_TRAN_ID_HPP

class tran_id {
public:
    explicit tran_id(int id) : id_(id) {}
    tran_id(const tran_id&) = default;
    tran_id& operator=(const tran_id&) = default;
    ~tran_id() = default;

    bool operator<(const tran_id& other) const { return id_ < other.id_; }

    int id() const { return id_; }

private:
    int id_;
};

#endif
