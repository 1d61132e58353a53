#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace quillant::clipboard {

// An immutable byte buffer that is cheap to copy: a clipboard snapshot may
// hold megabytes and is handed around and restored more than once.
class Bytes {
public:
    Bytes() = default;
    explicit Bytes(std::string bytes) : data_(std::make_shared<const std::string>(std::move(bytes))) {}
    explicit Bytes(std::string_view bytes) : Bytes(std::string(bytes)) {}
    explicit Bytes(const char* bytes) : Bytes(std::string(bytes)) {}
    explicit Bytes(const std::vector<std::uint8_t>& bytes) : Bytes(std::string(bytes.begin(), bytes.end())) {}

    const std::uint8_t* data() const {
        return data_ ? reinterpret_cast<const std::uint8_t*>(data_->data()) : nullptr;
    }
    std::size_t size() const { return data_ ? data_->size() : 0; }
    bool empty() const { return size() == 0; }
    std::string_view view() const { return data_ ? std::string_view(*data_) : std::string_view(); }
    std::string str() const { return std::string(view()); }

    friend bool operator==(const Bytes& a, const Bytes& b) { return a.view() == b.view(); }

private:
    std::shared_ptr<const std::string> data_;
};

}  // namespace quillant::clipboard
