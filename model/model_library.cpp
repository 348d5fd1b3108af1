// PLACEHOLDER: to be written by the folder's owner
