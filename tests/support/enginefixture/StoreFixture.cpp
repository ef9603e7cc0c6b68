#include "StoreFixture.h"

#include "DataSaver.h"
#include "NoGateway.h"
#include "Server.h"
#include "Settings.h"

StoreFixture::~StoreFixture()
{
    Stop();
}

void StoreFixture::Start()
{
    Stop();
    saver = new DataSaver;
    DeclareSettingTypes();
    // Saved by the shell in the program.
    saver->AddSavedType("global");
    saver->AddSavedByConnectionType("global_value", "global");
    server = new Server(new NoGateway);
    server->CreateData();
}

void StoreFixture::Stop()
{
    delete server;
    server = nullptr;
    delete saver;
    saver = nullptr;
}
