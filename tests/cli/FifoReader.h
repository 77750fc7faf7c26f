// Reads everything a FIFO receives, on a thread of its own, while a program writes to it.
#pragma once

#include <fstream>
#include <iterator>
#include <string>
#include <thread>

namespace synapsor {
namespace test {

class FifoReader {
  public:
    explicit FifoReader(const std::string& fifo)
        : reader([this, fifo] {
              std::ifstream in(fifo, std::ios::binary);
              text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
          }) {}
    // Waits for the writer to close the FIFO.
    std::string Text() {
        reader.join();
        return text;
    }

  private:
    std::string text;
    std::thread reader;
};

}  // namespace test
}  // namespace synapsor
