#pragma once

// The item types of the server connection that the other engines and the
// views use: users and their marks, the user list and its groups, rooms,
// and the four search types that peer messaging and the search views share
// ("Item types" in docs/protocol.md). The texts are the names in the data
// file; a misspelt constant does not compile where a misspelt text would
// only find nothing.
namespace ServerNames {
constexpr const char* User = "user";
constexpr const char* IsOnline = "is_online";
constexpr const char* IsAway = "is_away";
constexpr const char* IsPrivileged = "is_privileged";
constexpr const char* IsIgnored = "is_ignored";
constexpr const char* AverageDownloadSpeed = "average_download_speed";
constexpr const char* SharedFileCount = "shared_file_count";
constexpr const char* CountryCode = "country_code";
constexpr const char* LastOnlineStatusChange = "last_online_status_change";
constexpr const char* InUserList = "in_user_list";
constexpr const char* UserListGroup = "user_list_group";
constexpr const char* GroupDownloadPriority = "group_download_priority";
constexpr const char* AcceptUploads = "accept_uploads";
constexpr const char* Room = "room";
constexpr const char* UserCount = "user_count";
constexpr const char* InRoom = "in_room";
constexpr const char* RoomAutojoin = "room_autojoin";
constexpr const char* IsMember = "is_member";
constexpr const char* IsOperator = "is_operator";
constexpr const char* IsOwner = "is_owner";
constexpr const char* RoomMembers = "room_members";
constexpr const char* RoomOperators = "room_operators";
constexpr const char* RoomOwner = "room_owner";
constexpr const char* RoomTicker = "room_ticker";
constexpr const char* RoomTickerText = "room_ticker_text";
constexpr const char* RoomTickerOrder = "room_ticker_order";
constexpr const char* SearchRequest = "search_request";
constexpr const char* SearchRequestText = "search_request_text";
constexpr const char* WishListItem = "wish_list_item";
constexpr const char* SearchCorrelation = "search_correlation";
constexpr const char* CorrelationText = "correlation_text";
constexpr const char* CorrelationRank = "correlation_rank";
} // namespace ServerNames
