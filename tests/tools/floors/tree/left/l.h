// Fixture: the header of left.
#pragma once
