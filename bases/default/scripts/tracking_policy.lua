-- TrackingPolicy: what the three entry points share. Which tracking service
-- a request goes to, and what this session has seen so far.
--
-- Every HTTP session has its own Lua state, so the table below lives exactly
-- as long as the session. Entry points reach it with
-- DntEngine.Require("TrackingPolicy"), which returns the same table each
-- time within a session.

local Policy = {}

local session = {
  service = nil,
  verdict = DntEngine.VERDICT_NOT_DETECTED,
}

local function Excluded(partner, incompatible)
  return (partner and DntEngine.SHOULD_EXCLUDE_PARTNER_SITES)
    or (incompatible and DntEngine.SHOULD_EXCLUDE_INCOMPATIBLE_SITES)
end

-- The service index of the tracking service that `url` goes to, or nil.
-- The rules name the bugs the URL shows; an exception for a bug lifts that
-- bug. A partner or incompatible site lifts them all when the settings ask
-- for it, whether it is the request's target or `page`, the page the
-- request was made from (nil when unknown). MatchBugRules gives the bug
-- indexes in ascending order, and the bases number the most specific rules
-- first, so the first bug left is the best match.
function Policy.FindService(url, page)
  local bugs = DntEngine.MatchBugRules(url)
  if #bugs == 0 then
    return nil
  end
  local exceptions, partner, incompatible = DntEngine.MatchBugExceptions(url, true)
  if Excluded(partner, incompatible) then
    return nil
  end
  if page ~= nil then
    local _, pagePartner, pageIncompatible = DntEngine.MatchBugExceptions(page)
    if Excluded(pagePartner, pageIncompatible) then
      return nil
    end
  end
  for _, bug in ipairs(bugs) do
    if not exceptions[bug] then
      local service = DntEngine.GetBugService(bug)
      return service
    end
  end
  return nil
end

-- Keeps the strongest outcome of the session: the verdict values grow from
-- "not detected" over "detected" and "blocked" to "block failed".
function Policy.Record(service, verdict)
  if session.service == nil or verdict > session.verdict then
    session.service = service
    session.verdict = verdict
  end
end

function Policy.Verdict()
  return session.service, session.verdict
end

function Policy.ServiceName(service)
  local _, _, name = DntEngine.GetServiceInfo(service)
  return name
end

-- Writes a "[SCRIPT]: " trace line when the host asked for verbose tracing.
function Policy.Log(...)
  if DntEngine.IS_VERBOSE_TRACE_ENABLED then
    DntEngine.Log(...)
  end
end

-- Removes the field `name` when the message has it: removing an absent
-- field is an error. Returns whether there was one.
function Policy.RemoveIfPresent(message, name)
  if #message:GetFieldValues(name) == 0 then
    return false
  end
  message:RemoveField(name)
  return true
end

return "TrackingPolicy", function()
  return Policy
end
