#pragma once

// The item types of the shared folders that the other engines and the views
// use: the own shares and their visibility, and other users' shares as
// browsed. The texts are the names in the data file; a misspelt constant
// does not compile where a misspelt text would only find nothing.
namespace ShareNames {
constexpr const char* SharedFolder = "shared_folder";
constexpr const char* SharedFile = "shared_file";
constexpr const char* SharedFileName = "shared_file_name";
constexpr const char* SharedFileFolder = "shared_file_folder";
constexpr const char* SharedFileSize = "shared_file_size";
constexpr const char* SharedPublic = "shared_public";
constexpr const char* SharedUserlist = "shared_userlist";
constexpr const char* Unshared = "unshared";
constexpr const char* UserShare = "user_share";
constexpr const char* UserShareFolder = "user_share_folder";
constexpr const char* UserShareFolderParent = "user_share_folder_parent";
constexpr const char* UserShareFolderChild = "user_share_folder_child";
constexpr const char* UserShareFolderName = "user_share_folder_name";
constexpr const char* UserShareFile = "user_share_file";
constexpr const char* UserShareFileName = "user_share_file_name";
} // namespace ShareNames
