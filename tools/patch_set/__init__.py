"""The release gate's parts (tools/try_patch_set.py): the patch list and the archives read as
QxWebHelper reads them, the set's files held against its list, the publisher's signature, and
real repairs of clients at every starting version compared with the release tree."""
