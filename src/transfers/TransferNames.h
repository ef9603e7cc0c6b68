#pragma once

// The item types of the transfer engine that the views use, and the
// statuses of downloads and uploads (the values of "download_entry_status"
// and "upload_entry_status"). The texts are stored in the data file and
// shown to users as they are; a misspelt constant does not compile where a
// misspelt text would only find nothing.
namespace TransferNames {
constexpr const char* DownloadEntry = "download_entry";
constexpr const char* DownloadEntryStatus = "download_entry_status";
constexpr const char* FileName = "file_name";
constexpr const char* RemoteFolder = "remote_folder";
constexpr const char* DownloadFolder = "download_folder";
constexpr const char* DownloadOrder = "download_order";
constexpr const char* PlaceInLine = "place_in_line";
constexpr const char* WritePosition = "write_position";
constexpr const char* UploadEntry = "upload_entry";
constexpr const char* UploadEntryStatus = "upload_entry_status";
constexpr const char* ReadPosition = "read_position";
constexpr const char* IsActive = "is_active";
constexpr const char* BytesPerSecond = "bytes_per_second";
constexpr const char* LastReceiptTime = "last_receipt_time";
constexpr const char* LastStatusChangeTime = "last_status_change_time";
constexpr const char* DenialReason = "denial_reason";
constexpr const char* CompleteDownload = "complete_download";
constexpr const char* CompleteDownloadFilename = "complete_download_filename";
constexpr const char* CompleteDownloadFileSize = "complete_download_file_size";
constexpr const char* CompleteDownloadCompletionTime = "complete_download_completion_time";
constexpr const char* CompleteDownloadRelativeFolder = "complete_download_relative_folder";
constexpr const char* ExcludedDownloadExtension = "excluded_download_extension";
constexpr const char* SentEmptyShareWarningMessage = "sent_empty_share_warning_message";

// Statuses. A download runs while "downloading"; an upload counts as running
// from "requesting" through "connecting" and "waiting for offset" to
// "uploading". Both end "complete", "denied", "aborted" or "local error".
constexpr const char* Queued = "queued";
constexpr const char* Downloading = "downloading";
constexpr const char* Uploading = "uploading";
constexpr const char* Requesting = "requesting";
constexpr const char* Connecting = "connecting";
constexpr const char* WaitingForOffset = "waiting for offset";
constexpr const char* Complete = "complete";
constexpr const char* Denied = "denied";
constexpr const char* Aborted = "aborted";
constexpr const char* LocalError = "local error";
} // namespace TransferNames
