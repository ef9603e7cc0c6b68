#pragma once

class DataSaver;
class Server;

// The data saver with the settings declared and saved as the shell saves
// them, and the client's server connection with its types, kept away from
// any real gateway: what every engine in the program is made after.
class StoreFixture
{
public:
    StoreFixture() = default;
    ~StoreFixture();
    StoreFixture(const StoreFixture&) = delete;
    StoreFixture& operator=(const StoreFixture&) = delete;

    void Start();
    // Deletes the server connection and the saver; the store's items stay.
    void Stop();

    DataSaver* saver = nullptr;
    Server* server = nullptr;
};
