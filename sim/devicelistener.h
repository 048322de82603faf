// The daemon's device side: accepts the programs' connections on the Unix socket
// ROOT/dev/fpga-reg and executes their requests (format in devicewire.h) on the model.
//
// One thread runs every connection, so the model executes accesses in the order they
// arrive. A client that breaks the framing, sends more than it may, or stops reading its
// replies is disconnected; the others go on.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "fpgamodel.h"

namespace panelsim {

class DeviceListener {
public:
    explicit DeviceListener(FpgaModel& model);
    ~DeviceListener();  // closes every descriptor and removes the socket file
    DeviceListener(const DeviceListener&) = delete;
    DeviceListener& operator=(const DeviceListener&) = delete;

    // Listens on path, replacing a stale socket file. Refuses (false, with a reason) when
    // the path is too long, or when another daemon is still listening there.
    bool listen(const std::string& path, std::string& error);
    // Serves connections until stop() is called (from any thread).
    void run();
    void stop();

private:
    struct Client {
        int fd = -1;
        int connection = 0;
        std::vector<uint8_t> input;
    };

    void accept();
    // Reads what the client sent and answers every whole request; false ends the client.
    bool serve(Client& client);
    bool executeRequests(Client& client);
    void drop(Client& client);

    FpgaModel& _model;
    std::string _path;
    int _listen_fd = -1;
    int _wake_read = -1;
    int _wake_write = -1;
    std::vector<Client> _clients;
};

}  // namespace panelsim
