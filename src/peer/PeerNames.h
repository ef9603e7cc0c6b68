#pragma once

// The item types of peer messaging that the other engines and the views
// use: the file attributes of share lists and search results, and the
// search types that hang off the server connection's. The texts are the
// names in the data file; a misspelt constant does not compile where a
// misspelt text would only find nothing.
namespace PeerNames {
constexpr const char* FileSize = "file_size";
constexpr const char* MpegVersion = "mpeg_version";
constexpr const char* ChannelMode = "channel_mode";
constexpr const char* AudioFrequency = "audio_frequency";
constexpr const char* BitrateMode = "bitrate_mode";
constexpr const char* Bitrate = "bitrate";
constexpr const char* LengthSeconds = "length_seconds";
constexpr const char* SearchStopped = "search_stopped";
constexpr const char* SearchResults = "search_results";
constexpr const char* SearchResultsUserAvailable = "search_results_user_available";
constexpr const char* SearchResultsUserSpeed = "search_results_user_speed";
constexpr const char* SearchResultsUploadsInQueue = "search_results_uploads_in_queue";
constexpr const char* SearchResult = "search_result";
constexpr const char* SearchResultFileName = "search_result_file_name";
constexpr const char* SearchResultFileFolder = "search_result_file_folder";
constexpr const char* WishListItemEnabled = "wish_list_item_enabled";
constexpr const char* DiscardRepeatedResults = "discard_repeated_results";
constexpr const char* ReceivedResultsFromUsers = "received_results_from_users";
constexpr const char* UserAddress = "user_address";
} // namespace PeerNames
