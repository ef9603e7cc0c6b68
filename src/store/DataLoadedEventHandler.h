#pragma once

// Told when stored data is ready: after a load, DataLoaded(); when there was
// no data file at all, NoData() as well. Objects enter themselves with
// DataSaver::AddDataLoadedEventHandler, before the load.
class DataLoadedEventHandler
{
public:
    virtual ~DataLoadedEventHandler();
    virtual void DataLoaded() {}
    virtual void NoData() {}
};
