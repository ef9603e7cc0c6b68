#pragma once

#include "ViewFixture.h"

class UserListForm;

// The client as the benchmarks of our answers meet it: the view fixture
// with the users page, which answers user-information requests as the
// program does, logged in as "me", its picture random bytes (as a
// photograph, which compresses no further).
class UsersPageClient
{
public:
    bool Start(int pictureBytes);

    ViewFixture fixture;

private:
    UserListForm* m_page = nullptr;
};
