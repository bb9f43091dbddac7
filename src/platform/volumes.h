// Removable volumes: discovery, free space, FAT16 formatting, release and ejection.
#pragma once
