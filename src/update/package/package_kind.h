// The two kinds of package a release offers; each keeps its own partial download.
#pragma once

enum class PackageKind { None, Patch, Full };
