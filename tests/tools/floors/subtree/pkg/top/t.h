// The sub-floor on top.
#pragma once
