#pragma once

#include <memory>
#include <string>

namespace vantisol {

// One named shared block of the user's logon with its named mutex (the key followed by
// "_mutex"). The block lives while any process holds it open.
class SharedMemory {
 public:
  SharedMemory();
  explicit SharedMemory(std::string key);
  ~SharedMemory();
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;

  // Opens and maps the existing block; false when there is none or when it holds fewer than
  // `size` bytes (logged).
  bool Attach(int size = 0);
  // Creates the block of `size` bytes, or opens it when it exists (see is_new()). A block that
  // cannot be made, or another process's that holds fewer bytes, leaves this closed; a failure
  // repeated call after call is logged once.
  void Create(int size);
  void Map();
  void Close();
  // Takes the named mutex (created on first use). Returns false when the mutex is missing; an
  // abandoned mutex fails the wait check but is owned all the same and counts as taken.
  bool Lock();
  void Unlock();

  void* data();
  bool open() const;
  // True when the last Create made the block rather than opening an existing one.
  bool is_new() const { return is_new_; }
  void set_key(const std::string& key);
  std::string key() const { return key_; }

  // The calling thread's last system error text, on one line.
  static std::string ErrorText();

 private:
  struct Handles;

  std::string key_;
  std::unique_ptr<Handles> data_;
  bool is_new_ = false;
};

}  // namespace vantisol
