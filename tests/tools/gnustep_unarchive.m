// Decodes keyed archives with GNUstep's NSKeyedUnarchiver, an unarchiver
// written apart from ours, and prints each object graph in one canonical
// form (the same as archive_dump prints from our reader):
//   gnustep_unarchive FILE...
#import <Foundation/Foundation.h>
#include <stdio.h>

static void print_value(id v, NSMutableString* out);

static void print_string(NSString* s, NSMutableString* out) {
  [out appendString:@"\""];
  for (NSUInteger i = 0; i < [s length]; ++i) {
    unichar c = [s characterAtIndex:i];
    if (c == '"' || c == '\\') [out appendFormat:@"\\%C", c];
    else if (c < 0x20 || c > 0x7e) [out appendFormat:@"\\u%04x", c];
    else [out appendFormat:@"%C", c];
  }
  [out appendString:@"\""];
}

static void print_value(id v, NSMutableString* out) {
  if (v == nil || v == [NSNull null]) {
    [out appendString:@"null"];
  } else if ([v isKindOfClass:[NSString class]]) {
    print_string(v, out);
  } else if ([v isKindOfClass:[NSNumber class]]) {
    double d = [v doubleValue];
    if (d == (double)(long long)d) [out appendFormat:@"%lld", (long long)d];
    else [out appendFormat:@"%.17g", d];
  } else if ([v isKindOfClass:[NSDictionary class]]) {
    NSArray* keys = [[v allKeys] sortedArrayUsingSelector:@selector(compare:)];
    [out appendString:@"{"];
    for (NSUInteger i = 0; i < [keys count]; ++i) {
      if (i) [out appendString:@", "];
      print_string([keys objectAtIndex:i], out);
      [out appendString:@": "];
      print_value([v objectForKey:[keys objectAtIndex:i]], out);
    }
    [out appendString:@"}"];
  } else if ([v isKindOfClass:[NSArray class]]) {
    [out appendString:@"["];
    for (NSUInteger i = 0; i < [v count]; ++i) {
      if (i) [out appendString:@", "];
      print_value([v objectAtIndex:i], out);
    }
    [out appendString:@"]"];
  } else if ([v isKindOfClass:[NSURL class]]) {
    [out appendString:@"url:"];
    print_string([v absoluteString], out);
  } else if ([v isKindOfClass:[NSDate class]]) {
    [out appendFormat:@"date:%.3f", [v timeIntervalSinceReferenceDate]];
  } else if ([v isKindOfClass:[NSData class]]) {
    [out appendFormat:@"data:%lu", (unsigned long)[v length]];
  } else {
    [out appendFormat:@"<%@>", NSStringFromClass([v class])];
  }
}

int main(int argc, char** argv) {
  int failed = 0;
  for (int i = 1; i < argc; ++i) {
    NSAutoreleasePool* pool = [NSAutoreleasePool new];
    NSString* path = [NSString stringWithUTF8String:argv[i]];
    NSData* data = [NSData dataWithContentsOfFile:path];
    id root = nil;
    NS_DURING
      root = data ? [NSKeyedUnarchiver unarchiveObjectWithData:data] : nil;
    NS_HANDLER
      fprintf(stderr, "%s: %s\n", argv[i], [[localException reason] UTF8String]);
    NS_ENDHANDLER
    if (root == nil) {
      fprintf(stderr, "%s: not decoded\n", argv[i]);
      failed = 1;
    } else {
      NSMutableString* out = [NSMutableString string];
      print_value(root, out);
      printf("%s\n", [out UTF8String]);
    }
    [pool release];
  }
  return failed;
}
